#!/usr/bin/env bash
# The product zip in a folder whose name cmd finds hard to quote, its scripts
# run under Wine's cmd, per user and per machine.
#   registration_test.sh PRODUCT_ZIP WINE64
set -uo pipefail
zip=${1:?product zip} wine=${2:?wine64}
scratch=$(realpath "$(mktemp -d)")
folder="$scratch/Квант (x86) & Co!"
export WINEPREFIX=${QUORVANT_ZIP_WINEPREFIX:-${WINEPREFIX:-}}
source "$(dirname "$0")/registry.sh"

# The prefix is shared: no registration outlives this test, even a failed one.
remove_keys() {
  local key command=""
  for key in "${browser_keys[@]/#/HKCU\\Software\\}" "${browser_keys[@]/#/HKLM\\Software\\}"; do
    command+="reg delete $key\\NativeMessagingHosts\\$host_name /f & "
  done
  "$wine" cmd /c "${command% & }" > /dev/null 2>&1
}
trap 'remove_keys; rm -rf "$scratch"' EXIT
remove_keys
packaged=(INSTALL.txt install.cmd quorvant_host.exe uninstall.cmd)

exits_with() {  # code, folder, script, arguments...; run from its folder, as a user does
  local code=$1 dir=$2 status
  shift 2
  (cd "$dir" && on_wine cmd /c "$@")
  status=$?
  [[ $status == "$code" ]] || { echo "# exit code $status, output:"; sed 's/^/#   /' "$scratch/output"; return 1; }
}
installs() { exits_with 0 "$folder" install.cmd "$@"; }
registered_as() {  # hive, scope, Chromium origins, Firefox IDs
  registered "$1" "$(windows_path "$folder")\\" "$folder" "-$2" "$3" "$4"
}
folder_holds() {  # expected file names, sorted
  local names
  names=$(find "$folder" -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort | xargs)
  [[ $names == "$*" ]] || { echo "# folder holds: $names"; return 1; }
}
echo "# the zip"
zip_names() { python3 -c 'import sys, zipfile; print(" ".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$zip"; }
check "holds the host, the scripts and INSTALL.txt, nothing else" test "$(zip_names)" == "${packaged[*]}"
python3 -m zipfile -e "$zip" "$folder"
check "its host is the build's host" cmp -s "$folder/quorvant_host.exe" "$(dirname "$zip")/bin/quorvant_host.exe"
crlf_only() { python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); sys.exit(d[-2:] != b"\r\n" or b"\n" in d.replace(b"\r\n", b""))' "$1"; }
for name in install.cmd uninstall.cmd INSTALL.txt; do
  check "$name has Windows line ends" crlf_only "$folder/$name"
done

echo "# wrong options register nothing"
bad_options=(
  "install.cmd|/extension-id"
  "install.cmd|/extension-id|abcdefghijklmnopabcdefghijklmnopa"
  "install.cmd|/extension-id|abcdefghijklmnopabcdefghijklmnoq"
  "install.cmd|/extension-id|/machine"
  "install.cmd|/firefox-id|no-at-sign"
  "install.cmd|/firefox-id|x!y@z"
  "install.cmd|/extension-id|ingogkpkbkiidmpbpalbgoiidmfhibjn|/user"
  "uninstall.cmd|/machine|/extension-id"
)
for case in "${bad_options[@]}"; do
  IFS='|' read -r -a arguments <<< "$case"
  check "${arguments[*]}: exit code 2" exits_with 2 "$folder" "${arguments[@]}"
done
mkdir "$scratch/no host" && cp "$folder/install.cmd" "$scratch/no host/"
check "install.cmd beside no host: exit code 1" exits_with 1 "$scratch/no host" install.cmd
nothing_written() { folder_holds "${packaged[@]}" && [[ ! -e "$scratch/no host/chromium-user.json" ]] && no_keys HKCU && no_keys HKLM; }
check "no manifest or key was written" nothing_written

echo "# per user"
check "install without IDs" installs
packed="\"chrome-extension://$(cat "$(dirname "$zip")/extension/chromium-id")/\""
check "registers every browser for the packed and the example extension" registered_as HKCU user \
  "[$packed, \"chrome-extension://ingogkpkbkiidmpbpalbgoiidmfhibjn/\"]" '["signing@quorvant.example"]'
user_ids=(/extension-id ABCDEFGHIJKLMNOPabcdefghijklmnop /extension-id ingogkpkbkiidmpbpalbgoiidmfhibjn
          /firefox-id x@y /firefox-id '{01234567-89ab-cdef-0123-456789abcdef}')
user_origins="[$packed, \"chrome-extension://abcdefghijklmnopabcdefghijklmnop/\", \"chrome-extension://ingogkpkbkiidmpbpalbgoiidmfhibjn/\"]"
user_addons='["x@y", "{01234567-89ab-cdef-0123-456789abcdef}"]'
check "install again with IDs" installs "${user_ids[@]}"
check "allows those IDs instead, extension IDs in lower case" registered_as HKCU user "$user_origins" "$user_addons"
check "nothing is registered per machine" no_keys HKLM

echo "# per machine, beside the user's registration"
machine_ids=(/machine /extension-id ponmlkjihgfedcbaponmlkjihgfedcba /firefox-id admin@example.org)
check "install /machine" installs "${machine_ids[@]}"
check "registers every browser in HKLM with its IDs" \
  registered_as HKLM machine "[$packed, \"chrome-extension://ponmlkjihgfedcbaponmlkjihgfedcba/\"]" '["admin@example.org"]'
check "the user's registration is unchanged" registered_as HKCU user "$user_origins" "$user_addons"
check "a second install /machine" installs "${machine_ids[@]}"

echo "# uninstall"
check "uninstall" exits_with 0 "$folder" uninstall.cmd
check "removes every key per user" no_keys HKCU
check "and the user's manifests, not the machine's" folder_holds \
  INSTALL.txt chromium-machine.json firefox-machine.json install.cmd quorvant_host.exe uninstall.cmd
check "the machine's registration stays" \
  registered_as HKLM machine "[$packed, \"chrome-extension://ponmlkjihgfedcbaponmlkjihgfedcba/\"]" '["admin@example.org"]'
check "uninstall again" exits_with 0 "$folder" uninstall.cmd
check "uninstall /machine" exits_with 0 "$folder" uninstall.cmd /machine
check "removes every key per machine" no_keys HKLM
check "the folder holds what was unpacked" folder_holds "${packaged[@]}"

checks_done
