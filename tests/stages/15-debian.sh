#!/usr/bin/env bash
# The Debian package from the release build: lintian, then a real install,
# a signature through the installed host, and a purge that leaves nothing.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-packages --no-install-recommends lintian dpkg-dev file openssl

cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
rm -f build/release/quorvant-host_*.deb
(cd build/release && cpack -G DEB >/dev/null)
deb=$(echo "$PWD"/build/release/quorvant-host_*.deb)
echo "-- lintian $(basename "$deb")"
lintian "$deb" > "$deb.lintian" 2>&1 || { cat "$deb.lintian"; exit 1; }

sudo=""; [[ $(id -u) -ne 0 ]] && sudo="sudo"
apt() { $sudo env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=600 "$@" >/dev/null; }
watched=(/etc/chromium /etc/opt /usr/lib/mozilla /usr/lib/quorvant /usr/share/quorvant
         /usr/share/doc/quorvant-host /usr/share/lintian/overrides)
snapshot() { { find "${watched[@]}" 2>/dev/null || true; } | LC_ALL=C sort; }
scratch=$(mktemp -d)
trap 'dpkg-query -W quorvant-host >/dev/null 2>&1 && apt purge quorvant-host; rm -rf "$scratch"' EXIT
before=$(snapshot)
echo "-- install"
apt install "$deb"
source "tests/support/check.sh"

manifest_names_host() {  # manifest, member, expected value
  same_json "$1" '{"name": "com.quorvant.signing_host", "description": "Quorvant signing host", "type": "stdio",
    "path": "/usr/lib/quorvant/quorvant_host", "'"$2"'": ["'"$3"'"]}'
}
origin=chrome-extension://ingogkpkbkiidmpbpalbgoiidmfhibjn/
for dir in /etc/chromium /etc/opt/chrome /etc/opt/edge; do
  check "$dir manifest" manifest_names_host "$dir/native-messaging-hosts/com.quorvant.signing_host.json" \
    allowed_origins "$origin"
done
check "Firefox manifest" manifest_names_host \
  /usr/lib/mozilla/native-messaging-hosts/com.quorvant.signing_host.json allowed_extensions signing@quorvant.example
check "the Chromium family's manifests are conffiles" \
  test "$(dpkg-query -W -f='${Conffiles}' quorvant-host | grep -c native-messaging-hosts)" == 3

echo "-- round trip with the software token"
export QUORVANT_TOKEN_STORE=$scratch/store
/usr/lib/quorvant/quorvant_token create demo --no-passphrase --no-confirm --subject "/CN=Package test" >/dev/null
printf 'signed by the installed package\n' > "$scratch/data"
ask() {  # action, member of the answer to print
  /usr/lib/quorvant/quorvant_client --host /usr/lib/quorvant/quorvant_host --origin "$origin" --member "$2" \
    '{"contentId":"1","data":{"requestAction":"'"$1"'","containerName":"demo","contentFile":"'"$(base64 -w0 "$scratch/data")"'"}}'
}
ask getCertificate certificate | base64 -d | openssl x509 -inform DER -out "$scratch/certificate.pem"
ask getSignature signature | base64 -d > "$scratch/signature.der"
check "the installed host signs, OpenSSL verifies" openssl cms -verify -binary -inform DER -in "$scratch/signature.der" \
  -content "$scratch/data" -CAfile "$scratch/certificate.pem" -out /dev/null

echo "-- purge"
apt purge quorvant-host
check "the purge left nothing behind" test "$before" == "$(snapshot)"
checks_done
