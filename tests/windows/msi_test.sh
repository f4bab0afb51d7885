#!/usr/bin/env bash
# The MSI under wine64's msiexec: per machine and user, repair, upgrade, uninstall.
#   msi_test.sh MSI OLDER_MSI WINE64 TEST_DOUBLE_DIR VERSION
set -uo pipefail
msi=${1:?MSI} older=${2:?older MSI} wine=${3:?wine64} double_dir=${4:?folder of AvCryptMail.dll}
version=${5:?version of the MSI}
folder=$WINEPREFIX/drive_c/Program\ Files/Quorvant
user_folder=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Programs/Quorvant
packed=$(< "$(dirname "$msi")/extension/chromium-id")  # the packed extension, always allowed first
scratch=$(mktemp -d)
trap '"$wine" msiexec /x "$msi" /qn >/dev/null 2>&1; rm -rf "$scratch"' EXIT
source "$(dirname "$0")/registry.sh"
# A failed run or repair shows what its verbose log says.
msi_log() {  # lines matching (the log is in the ANSI code page of wine_env.sh)
  python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); print(d.decode("utf-16" if d[:2] == b"\xff\xfe" else "cp1251", "replace"))' \
    "$scratch/msi.log" 2>/dev/null | grep -a -i -E "$1" | tail -n 20 | sed 's/^/#   /'
}
msiexec() {
  on_wine msiexec "$@" /qn /l*v "$(windows_path "$scratch/msi.log")" && return
  echo "# msiexec $*:"
  msi_log .
  return 1
}
fails() { ! "$@" > /dev/null; }
registered_in() {  # hive, Chromium origins after the packed one's, Firefox IDs[, Windows folder, its Linux path]
  registered "$1" "${4:-C:\Program Files\Quorvant\\}" "${5:-$folder}" "" "[\"chrome-extension://$packed/\", ${2#[}" "$3" ||
    { msi_log 'registry|component|feature'; return 1; }
}

host_answers() {  # as a browser starts it, with the test double's certificate[; host folder]
  python3 -c 'import struct, sys; d = sys.argv[1].encode(); sys.stdout.buffer.write(struct.pack("<I", len(d)) + d)' \
    '{"contentId":"1","data":{"requestAction":"getCertificate","containerName":"C1"}}' |
    WINEPATH=$(windows_path "$double_dir") "$wine" "${1:-$folder}/quorvant_host.exe" chrome-extension://x/ 2>/dev/null |
    grep -q '"certificate":"Q0VSVDpDMQ=="'
}

installed_versions() {  # of the products of this name, from the uninstall keys
  on_wine reg export 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' \
    "$(windows_path "$scratch/uninstall.reg")" /y
  iconv -f UTF-16 -t UTF-8 "$scratch/uninstall.reg" | tr -d '\r' |
    awk -v RS= '/"DisplayName"="Quorvant signing host"/' | sed -n 's/^"DisplayVersion"="\(.*\)"$/\1/p'
}
nothing_left() { [[ ! -e $folder && ! -e $user_folder ]] && no_keys HKLM && no_keys HKCU && [[ -z $(installed_versions) ]]; }
# Per user: nothing new in Program Files, none of its keys in HKLM (Wine's msiexec records the product there anyway).
nothing_for_all() { ! find "$WINEPREFIX/drive_c/Program Files"* -newer "$scratch/before" | grep . && no_keys HKLM; }
uninstalls() { msiexec /x "$msi" "$@" && nothing_left; }

echo "# per machine"
origins='["chrome-extension://abcdefghijklmnopabcdefghijklmnop/", "chrome-extension://ingogkpkbkiidmpbpalbgoiidmfhibjn/"]'
check "a malformed extension ID fails the install" fails msiexec /i "$msi" 'EXTENSION_IDS=x"y'
check "and leaves nothing" nothing_left
check "install with two extension IDs and a Firefox ID" \
  msiexec /i "$msi" EXTENSION_IDS=abcdefghijklmnopabcdefghijklmnop,ingogkpkbkiidmpbpalbgoiidmfhibjn FIREFOX_IDS=admin@example.org
check "registers for every browser in HKLM with those IDs" registered_in HKLM "$origins" '["admin@example.org"]'
check "and nothing in HKCU" no_keys HKCU
check "the installed host answers" host_answers
check "the packed extension lies in the install folder" test -s "$folder/extension/quorvant.crx" -a -s "$folder/extension/quorvant.xpi"
rm -f "$folder/quorvant_host.exe"
on_wine reg delete "HKLM\\Software\\Mozilla\\NativeMessagingHosts\\$host_name" /f
# What "msiexec /fa" does; Wine's msiexec /f fails here.
check "repair" msiexec /i "$msi" REINSTALL=ALL REINSTALLMODE=amus
check "puts back the host and the key, with the example extension's IDs" \
  registered_in HKLM '["chrome-extension://ingogkpkbkiidmpbpalbgoiidmfhibjn/"]' '["signing@quorvant.example"]'
check "uninstall leaves no file, key or product" uninstalls

echo "# per user"
touch "$scratch/before"
check "install with ALLUSERS=2 MSIINSTALLPERUSER=1" msiexec /i "$msi" ALLUSERS=2 MSIINSTALLPERUSER=1
check "into LocalAppData\\Programs, registered in HKCU" registered_in HKCU '["chrome-extension://ingogkpkbkiidmpbpalbgoiidmfhibjn/"]' \
  '["signing@quorvant.example"]' "C:\\users\\$(id -un)\\AppData\\Local\\Programs\\Quorvant\\" "$user_folder"
check "nothing under Program Files or in HKLM" nothing_for_all
check "the installed host answers" host_answers "$user_folder"
check "uninstall leaves nothing" uninstalls ALLUSERS=2 MSIINSTALLPERUSER=1

echo "# upgrade"
check "install the older version" msiexec /i "$older"
check "install this version over it" msiexec /i "$msi"
check "replaces it" test "$(installed_versions)" == "$version"
check "registered" registered_in HKLM '["chrome-extension://ingogkpkbkiidmpbpalbgoiidmfhibjn/"]' '["signing@quorvant.example"]'
check "uninstall leaves nothing" uninstalls

checks_done
