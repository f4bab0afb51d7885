#!/usr/bin/env bash
# The Debian package as a fleet gets it: lintian, install, the README's policies, the demo page signing in
# Chromium and Firefox ESR through the policy-installed extension, a newer package replacing it, removal
# leaving nothing. Holds the machine's lock while any of it exists; every exit cleans.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-packages --no-install-recommends lintian dpkg-dev file openssl
packages=(chromium firefox-esr)
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
scripts/install-packages "${packages[@]}"

cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
rm -f build/release/quorvant-host_*.deb
(cd build/release && cpack -G DEB >/dev/null)
deb=$(echo "$PWD"/build/release/quorvant-host_*.deb)
echo "-- lintian $(basename "$deb")"
lintian "$deb" > "$deb.lintian" 2>&1 || { cat "$deb.lintian"; exit 1; }

sudo=""; [[ $(id -u) -ne 0 ]] && sudo="sudo"
apt() { $sudo env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=600 "$@" >/dev/null; }
policy_files=(/etc/chromium/policies/managed/quorvant.json /etc/opt/chrome/policies/managed/quorvant.json
              /etc/opt/edge/policies/managed/quorvant.json /etc/firefox/policies/policies.json)
remove_policy() {  # and the folders it leaves empty
  $sudo rm -f "${policy_files[@]}"
  $sudo rmdir -p --ignore-fail-on-non-empty "${policy_files[@]%/*}" 2>/dev/null || true
  written=0
}
# Others install the same package and policies: clean up only once the machine is ours.
exec 9> /tmp/quorvant-system.lock
flock 9
scratch=$(mktemp -d) && chmod 755 "$scratch"  # the browsers' hosts read its files
written=0  # whether the policy files are this test's
trap '((written)) && remove_policy; dpkg-query -W quorvant-host >/dev/null 2>&1 && apt purge quorvant-host; rm -rf "$scratch"' EXIT
# The package's folders that exist before it is installed stay after a purge.
existed=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\.||; s|/$||' | while read -r path; do
  [[ -e $path ]] && echo "$path"; done || true)
apt install "$deb"
source "tests/support/check.sh"

manifest_names_host() {  # manifest, member, expected values
  same_json "$1" '{"name": "com.quorvant.signing_host", "description": "Quorvant signing host", "type": "stdio",
    "path": "/usr/lib/quorvant/quorvant_host", "'"$2"'": ['"$3"']}'
}
origins='"chrome-extension://'$(< /usr/share/quorvant/extension/chromium-id)'/", "chrome-extension://ingogkpkbkiidmpbpalbgoiidmfhibjn/"'
for dir in /etc/chromium /etc/opt/chrome /etc/opt/edge; do
  check "$dir manifest allows the packed and the example extension" manifest_names_host \
    "$dir/native-messaging-hosts/com.quorvant.signing_host.json" allowed_origins "$origins"
done
check "the Chromium family's manifests are conffiles" test "$(dpkg-query -W -f='${Conffiles}' quorvant-host | grep -c native-messaging-hosts)" == 3

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
readme_policy() {  # heading: its shell block, for this test's demo page
  [[ -n $sudo ]] || echo 'sudo() { "$@"; }'
  awk -v heading="$1" '$0 == heading {found = 1} found && /^```sh$/ {inside = 1; next}
                       inside && /^```$/ {exit} inside' README.md | sed "s|^origin=.*|origin=http://127.0.0.1:$port|"
}
! ls "${policy_files[@]}" 2>/dev/null || { echo "a machine's own browser policy is not this test's to replace"; exit 1; }
written=1
bash -euo pipefail <(readme_policy "### Chromium, Google Chrome and Microsoft Edge on Linux")
bash -euo pipefail <(readme_policy "### Firefox ESR on Linux")

# The newer package: this one, its extension packed one version higher with the build's key (md5sums left stale).
version=$(dpkg-deb -f "$deb" Version) newer=$scratch/newer
key=$(sed -n 's/^QUORVANT_EXTENSION_KEY:FILEPATH=//p' build/release/CMakeCache.txt)
dpkg-deb -R "$deb" "$newer"
python3 packaging/extension/pack_extension.py pack "${key:-build/release/packaging/extension/throwaway-key.pem}" \
  extension "$version.1" file:///usr/share/quorvant/extension "$newer/usr/share/quorvant/extension"
sed -i "s/^Version: .*/Version: $version.1/" "$newer/DEBIAN/control"
dpkg-deb --root-owner-group -b "$newer" "$scratch/quorvant-host_$version.1.deb" >/dev/null

cd tests/browser && npm ci --no-audit --no-fund --loglevel=error >/dev/null
export QUORVANT_POLICY=1 QUORVANT_DEMO_PORT=$port QUORVANT_NEWER_VERSION=$version.1
export QUORVANT_UPGRADE="$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $scratch/quorvant-host_$version.1.deb >/dev/null"
check "Chromium signs through the policy-installed extension" env QUORVANT_BROWSER=chromium node --test
check "Firefox ESR signs through the policy-installed extension" env QUORVANT_BROWSER=firefox node --test

echo "-- remove the policies, purge"
owned=$(dpkg -L quorvant-host)
remove_policy
apt purge quorvant-host
# The package's files and the policies that are still there.
leftovers=$(printf '%s\n' "$owned" "${policy_files[@]}" | grep -vxF -e /. -f <(echo "$existed") |
  while read -r path; do [[ ! -e $path && ! -L $path ]] || echo "$path"; done)
[[ -z $leftovers ]] || { echo "# left behind:"; ls -ld $leftovers | sed 's/^/#   /'; }
check "removing the policies and the package left nothing behind" test -z "$leftovers"
checks_done
