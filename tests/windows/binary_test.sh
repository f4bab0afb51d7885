#!/usr/bin/env bash
# A Windows build's host as a plain Windows installation loads it.
#   binary_test.sh BIN_DIR OBJDUMP FILE_FORMAT MAGIC
set -uo pipefail
bin=${1:?bin folder} objdump=${2:?objdump} format=${3:?file format} magic=${4:?PE32 or PE32+}
source "$(dirname "$0")/../support/check.sh"
ordinals='1 2 3 4 6 10 13 20 25 26'  # the vendor library's interface table
headers=$(LC_ALL=C "$objdump" -p "$bin/quorvant_host.exe")
dlls() { sed -n 's/^\s*DLL Name: //p' <<< "$headers" | tr '[:upper:]' '[:lower:]' | sort | xargs; }

vendor_imports() {  # a lookup entry with its top bit set imports an ordinal
  local entry
  sed -n '/DLL Name: AvCryptMail.DLL/,/^\s*$/p' <<< "$headers" | tail -n +3 |
    while read -r entry _; do
      [[ -z $entry ]] && continue
      if [[ $entry =~ ^[89a-f]([0-9a-f]{7}|[0-9a-f]{15})$ ]]; then echo $((16#${entry: -4})); else echo "name $entry"; fi
    done | sort -n | xargs
}
console_program() {
  [[ $headers == *"file format $format"* && $headers == *"($magic)"* && $headers == *"(Windows CUI)"* ]]
}

check "the host imports the vendor library by ordinal only" test "$(vendor_imports)" == "$ordinals"
check "the host needs only system DLLs" test "$(dlls)" == "avcryptmail.dll kernel32.dll msvcrt.dll"
check "the host is a $format console program ($magic)" console_program
check "that runs as invoker" grep -qa '<requestedExecutionLevel level="asInvoker"' "$bin/quorvant_host.exe"
checks_done
