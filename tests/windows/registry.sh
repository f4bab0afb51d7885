# Sourced by the Windows shell tests (after setting wine and scratch): what
# a browser reads on Windows, its key and the manifest the key names.
[[ -n ${WINEPREFIX:-} ]] || { echo "WINEPREFIX is not set: run wine_env_begin first" >&2; exit 1; }
source "$(dirname "${BASH_SOURCE[0]}")/../support/check.sh"
host_name=com.quorvant.signing_host
browser_keys=('Google\Chrome' 'Microsoft\Edge' 'Chromium' 'Mozilla')

windows_path() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }

# Under load Wine now and then fails to start a program: wine64 exits 1 silently, or cmd reports
# the reg command it ran as unknown, echoing its line (a real reg failure prints only its error).
# The scripts are idempotent, so run it again. Output: $scratch/output.
on_wine() {  # program, arguments...
  local try status
  for try in 1 2 3; do
    "$wine" "$@" > "$scratch/output" 2>&1
    status=$?
    ((status == 1)) || return "$status"
    [[ ! -s $scratch/output ]] || grep -aqE 'reg (add|delete) "HK' "$scratch/output" || return "$status"
    echo "# Wine did not start $1 or a program it runs (try $try)" >&2
  done
  return "$status"
}

# A browser key's default value; "reg export" writes UTF-16 on any code page.
key_value() {  # hive, browser key
  rm -f "$scratch/key.reg"
  on_wine reg export "$1\\Software\\$2\\NativeMessagingHosts\\$host_name" \
    "$(windows_path "$scratch/key.reg")" /y || return 1
  iconv -f UTF-16 -t UTF-8 "$scratch/key.reg" | tr -d '\r' | sed -n '/^@="/{s/^@="//;s/"$//;s/\\"/"/g;s/\\\\/\\/g;p}'
}

no_keys() {  # hive
  local key
  for key in "${browser_keys[@]}"; do
    if key_value "$1" "$key" > /dev/null; then echo "# $1 $key is still there"; return 1; fi
  done
}

# Every key of the hive names its manifest (PREFIX chromium|firefox SUFFIX),
# exactly a host's members with the IDs given, the host beside it.
registered() {  # hive, Windows manifest prefix, its Linux folder, suffix, Chromium origins, Firefox IDs
  local key manifest member expected
  for key in "${browser_keys[@]}"; do
    manifest=chromium$4.json member=allowed_origins expected=$5
    [[ $key == Mozilla ]] && manifest=firefox$4.json member=allowed_extensions expected=$6
    [[ $(key_value "$1" "$key") == "$2$manifest" ]] || { echo "# $1 $key"; return 1; }
    [[ -f $3/quorvant_host.exe ]] && same_json "$3/$manifest" '{"name": "com.quorvant.signing_host",
      "description": "Quorvant signing host", "path": "quorvant_host.exe", "type": "stdio",
      "'"$member"'": '"$expected"'}' || return 1
  done
}
