#!/usr/bin/env bash
# The product zip and its registration scripts under Wine's cmd, in the
# prefix of wine_env.sh. The zip holds exactly the 32-bit host, the two
# scripts and INSTALL.txt. Unpacked into a folder whose name has a space,
# parentheses, "&", "!" and Cyrillic letters, install.cmd registers the host
# for every browser per user and per machine: each key names its manifest,
# each manifest is JSON that names the host and the allowed IDs; a repeated
# install changes nothing; the scopes do not touch each other; uninstall
# removes one scope's keys and manifests. Wrong options register nothing.
#   registration_test.sh PRODUCT_ZIP WINE64
set -uo pipefail
zip=${1:?product zip} wine=${2:?wine64}
[[ -n ${WINEPREFIX:-} ]] || {
  echo "WINEPREFIX is not set: source tests/windows/wine_env.sh and run wine_env_begin" >&2
  exit 1
}
scratch=$(realpath "$(mktemp -d)")
folder="$scratch/Квант (x86) & Co!"
host_name=com.quorvant.signing_host
chromium_keys=('Google\Chrome' 'Microsoft\Edge' 'Chromium')

# The prefix is shared with the other tests: no registration outlives this
# one, even when it fails half-way.
remove_keys() {
  local hive key command=""
  for hive in HKCU HKLM; do
    for key in "${chromium_keys[@]}" Mozilla; do
      command+="reg delete $hive\\Software\\$key\\NativeMessagingHosts\\$host_name /f & "
    done
  done
  "$wine" cmd /c "${command% & }" > /dev/null 2>&1
}
trap 'remove_keys; rm -rf "$scratch"' EXIT
remove_keys
packaged=(INSTALL.txt install.cmd quorvant_host.exe uninstall.cmd)
source "$(dirname "$0")/../support/check.sh"

# Runs a script of the unpacked folder from that folder, as a user does.
run_in() {  # folder, script, arguments...
  local dir=$1; shift
  (cd "$dir" && "$wine" cmd /c "$@" > "$scratch/output" 2>&1)
}
run() { run_in "$folder" "$@"; }
exits_with() {  # code, script, arguments...
  local code=$1; shift
  run "$@"
  local status=$?
  [[ $status == "$code" ]] || { echo "# exit code $status, output:"; sed 's/^/#   /' "$scratch/output"; return 1; }
}

windows_path() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }

# The default value of a browser's key, read from "reg export" (UTF-16 on any
# code page, where "reg query" prints in the console's code page).
key_value() {  # hive, browser key
  rm -f "$scratch/key.reg"
  "$wine" reg export "$1\\Software\\$2\\NativeMessagingHosts\\$host_name" \
      "$(windows_path "$scratch/key.reg")" /y > /dev/null 2>&1 || return 1
  python3 - "$scratch/key.reg" <<'EOF'
import re, sys
text = open(sys.argv[1], encoding="utf-16").read()
found = re.search(r'^@="(.*)"$', text, re.M)
print(found.group(1).replace('\\"', '"').replace("\\\\", "\\") if found else "")
EOF
}

key_exists() {  # hive, browser key
  "$wine" reg query "$1\\Software\\$2\\NativeMessagingHosts\\$host_name" /ve > /dev/null 2>&1
}

keys_name_manifests() {  # hive, scope
  local key manifest value
  for key in "${chromium_keys[@]}" Mozilla; do
    manifest=chromium; [[ $key == Mozilla ]] && manifest=firefox
    value=$(key_value "$1" "$key")
    [[ $value == "$(windows_path "$folder/$manifest-$2.json")" ]] || { echo "# $1 $key: $value"; return 1; }
  done
}

no_keys() {  # hive
  local key
  for key in "${chromium_keys[@]}" Mozilla; do
    if key_exists "$1" "$key"; then echo "# $1 $key is still there"; return 1; fi
  done
}

# A manifest as a browser reads it: UTF-8 JSON with exactly the members of a
# native-messaging host, whose "path" (relative to the manifest, or
# absolute) names the unpacked host.
manifest_allows() {  # manifest, member, expected JSON array
  python3 - "$@" <<'EOF'
import json, os, re, sys
path, member, expected = sys.argv[1], sys.argv[2], json.loads(sys.argv[3])
with open(path, encoding="utf-8") as f:
    manifest = json.load(f)
host = manifest.get("path", "")
if re.match(r"^[A-Za-z]:\\", host):
    host = "/" + host[3:] if host[0] in "zZ" else ""
host = os.path.join(os.path.dirname(path), host.replace("\\", "/"))
wanted = {"name": "com.quorvant.signing_host", "description": "Quorvant signing host",
          "type": "stdio", member: expected}
problems = [k for k in wanted if manifest.get(k) != wanted[k]]
problems += sorted(set(manifest) - set(wanted) - {"path"})
if not os.path.isfile(host) or not os.path.samefile(host, os.path.join(os.path.dirname(path), "quorvant_host.exe")):
    problems.append("path")
if problems:
    print("# %s: wrong %s in %s" % (os.path.basename(path), ", ".join(problems), json.dumps(manifest)))
sys.exit(1 if problems else 0)
EOF
}

manifests_allow() {  # scope, Chromium origins, Firefox IDs (JSON arrays)
  manifest_allows "$folder/chromium-$1.json" allowed_origins "$2" &&
    manifest_allows "$folder/firefox-$1.json" allowed_extensions "$3"
}

folder_holds() {  # expected file names, sorted
  local names
  names=$(find "$folder" -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort | tr '\n' ' ')
  [[ $names == "$(printf '%s ' "$@")" ]] || { echo "# folder holds: $names"; return 1; }
}

# What a repeated install must leave as it was: files, contents, key values.
snapshot() {
  (cd "$folder" && sha256sum -- * | LC_ALL=C sort)
  local hive key
  for hive in HKCU HKLM; do
    for key in "${chromium_keys[@]}" Mozilla; do echo "$hive $key $(key_value "$hive" "$key")"; done
  done
}

echo "# the zip"
zip_names() { python3 -c 'import sys, zipfile; print(" ".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$zip"; }
check "holds the host, the scripts and INSTALL.txt, nothing else" \
  test "$(zip_names)" == "${packaged[*]}"
python3 -m zipfile -e "$zip" "$folder"
check "its host is the build's host" cmp -s "$folder/quorvant_host.exe" "$(dirname "$zip")/bin/quorvant_host.exe"
crlf_only() {
  python3 -c 'import sys
d = open(sys.argv[1], "rb").read()
sys.exit(0 if d.endswith(b"\r\n") and b"\n" not in d.replace(b"\r\n", b"") else 1)' "$1"
}
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
  check "${arguments[*]}: exit code 2" exits_with 2 "${arguments[@]}"
done
check "no manifest was written" folder_holds "${packaged[@]}"
check "no key was written per user" no_keys HKCU
check "no key was written per machine" no_keys HKLM

echo "# a folder without the host"
mkdir "$scratch/no host"
cp "$folder/install.cmd" "$scratch/no host/"
fails_without_host() { run_in "$scratch/no host" install.cmd; [[ $? == 1 ]]; }
check "install.cmd fails with exit code 1" fails_without_host
check "and writes no manifest" test ! -e "$scratch/no host/chromium-user.json"
check "and no key" no_keys HKCU

echo "# per user"
check "install without IDs" exits_with 0 install.cmd
check "every key names its manifest" keys_name_manifests HKCU user
check "the manifests allow the example extension" \
  manifests_allow user '["chrome-extension://ingogkpkbkiidmpbpalbgoiidmfhibjn/"]' '["signing@quorvant.example"]'
user_ids=(/extension-id ABCDEFGHIJKLMNOPabcdefghijklmnop /extension-id ingogkpkbkiidmpbpalbgoiidmfhibjn
          /firefox-id x@y /firefox-id '{01234567-89ab-cdef-0123-456789abcdef}')
user_origins='["chrome-extension://abcdefghijklmnopabcdefghijklmnop/", "chrome-extension://ingogkpkbkiidmpbpalbgoiidmfhibjn/"]'
user_addons='["x@y", "{01234567-89ab-cdef-0123-456789abcdef}"]'
check "install again with IDs" exits_with 0 install.cmd "${user_ids[@]}"
check "the manifests allow those IDs instead, extension IDs in lower case" \
  manifests_allow user "$user_origins" "$user_addons"
before=$(snapshot)
check "a third install" exits_with 0 install.cmd "${user_ids[@]}"
check "changes nothing" test "$before" == "$(snapshot)"
check "nothing is registered per machine" no_keys HKLM

echo "# per machine, beside the user's registration"
machine_ids=(/machine /extension-id ponmlkjihgfedcbaponmlkjihgfedcba /firefox-id admin@example.org)
check "install /machine" exits_with 0 install.cmd "${machine_ids[@]}"
check "every HKLM key names its manifest" keys_name_manifests HKLM machine
check "the machine's manifests allow its IDs" \
  manifests_allow machine '["chrome-extension://ponmlkjihgfedcbaponmlkjihgfedcba/"]' '["admin@example.org"]'
check "the user's keys still name the user's manifests" keys_name_manifests HKCU user
check "whose IDs are unchanged" manifests_allow user "$user_origins" "$user_addons"
before=$(snapshot)
check "a second install /machine" exits_with 0 install.cmd "${machine_ids[@]}"
check "changes nothing" test "$before" == "$(snapshot)"

echo "# uninstall"
check "uninstall" exits_with 0 uninstall.cmd
check "removes every key per user" no_keys HKCU
check "and the user's manifests, not the machine's" folder_holds \
  INSTALL.txt chromium-machine.json firefox-machine.json install.cmd quorvant_host.exe uninstall.cmd
check "the machine's registration stays" keys_name_manifests HKLM machine
check "uninstall again" exits_with 0 uninstall.cmd
check "uninstall /machine" exits_with 0 uninstall.cmd /machine
check "removes every key per machine" no_keys HKLM
check "the folder holds what was unpacked" folder_holds "${packaged[@]}"

checks_done
