#!/usr/bin/env bash
# The registration script against scratch directories, per user (--profile
# included) and system-wide under --root.
set -euo pipefail
build=${1:?build directory}
register="$(cd "$(dirname "$0")/../.." && pwd)/packaging/linux/register.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
source "$(dirname "$0")/../support/check.sh"

listing() { (cd "$1" && find . -printf '%p %m\n' | sort; find . -type f -exec sha256sum {} + | sort); }

manifest_names_host() {  # manifest, host path, member, allowed ID (by default any)
  grep -q "\"path\": \"$2\"" "$1" && grep -q "\"$3\": \[.*${4:-}" "$1" && grep -q '"type": "stdio"' "$1"
}

mkdir -p "$scratch/home/.config/chromium"  # a browser profile that was there before
before=$(listing "$scratch/home")
HOME=$scratch/home XDG_CONFIG_HOME= "$register" install --build "$build" >/dev/null
first=$(listing "$scratch/home")
HOME=$scratch/home XDG_CONFIG_HOME= "$register" install --build "$build" >/dev/null
host=$scratch/home/.local/lib/quorvant/quorvant_host
check "a second install changes nothing" test "$first" == "$(listing "$scratch/home")"
for dir in .config/chromium/NativeMessagingHosts .config/google-chrome/NativeMessagingHosts \
           .config/microsoft-edge/NativeMessagingHosts; do
  check "manifest in $dir allows the packed extension" manifest_names_host \
    "$scratch/home/$dir/com.quorvant.signing_host.json" "$host" allowed_origins "chrome-extension://$(< "$build/extension/chromium-id")/"
done
check "the installed host's run path is \$ORIGIN alone" \
  test "$(readelf -d "$host" | grep -E 'R(UN)?PATH')" == ' 0x000000000000001d (RUNPATH)            Library runpath: [$ORIGIN]'
refused() { ! HOME=$scratch/none "$register" install --build "$build" "$@" 2>/dev/null && [[ ! -e $scratch/none ]]; }
for bad in '--extension-id ABCDEFGHIJKLMNOPabcdefghijklmnop' '--extension-id abcdefghijklmnopabcdefghijklmnoq' \
           '--firefox-id a"b@c' '--firefox-id no-at-sign' '--prefix /tmp/a"b'; do
  read -r -a arguments <<< "$bad"
  check "install $bad: refused" refused "${arguments[@]}"
done
HOME=$scratch/home XDG_CONFIG_HOME= "$register" install --build "$build" --profile "$scratch/home/own profile" >/dev/null
HOME=$scratch/home XDG_CONFIG_HOME= "$register" install --build "$build" >/dev/null
HOME=$scratch/home XDG_CONFIG_HOME= "$register" uninstall >/dev/null
check "uninstall removes exactly what the installs wrote" test "$before" == "$(listing "$scratch/home")"

mkdir -p "$scratch/root/etc"
before=$(listing "$scratch/root")
"$register" install --system --root "$scratch/root" --build "$build" --extension-id abcdefghijklmnopabcdefghijklmnop >/dev/null
for dir in etc/opt/chrome etc/chromium; do
  check "system-wide $dir manifest names the final path and the chosen ID" manifest_names_host \
    "$scratch/root/$dir/native-messaging-hosts/com.quorvant.signing_host.json" \
    /usr/local/lib/quorvant/quorvant_host allowed_origins chrome-extension://abcdefghijklmnopabcdefghijklmnop/
done
check "system-wide Firefox manifest" manifest_names_host \
  "$scratch/root/usr/lib/mozilla/native-messaging-hosts/com.quorvant.signing_host.json" \
  /usr/local/lib/quorvant/quorvant_host allowed_extensions
"$register" uninstall --system --root "$scratch/root" >/dev/null
check "system-wide uninstall restores the tree" test "$before" == "$(listing "$scratch/root")"

checks_done
