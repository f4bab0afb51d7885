# Sourced by the Windows stage (and by hand before running the tests under
# Wine): creates a private Wine prefix in a temporary directory, keeps its
# wineserver running, and exports what the tests need:
#   WINEPREFIX, WINEDEBUG, LOCPATH, LC_ALL  the prefix, quiet Wine, Russian locale
#   QUORVANT_WINE_TEMP                      the Wine user's temporary folder
#   QUORVANT_WINE_ROOT                      remove it when done (wine_env_end)
# The locale makes CP_ACP code page 1251, so the double's Cyrillic error text
# crosses the ANSI conversions intact. It is built into the temporary
# directory: the machine's locales are left alone.

WINE64=${WINE64:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}

wine_env_begin() {
  QUORVANT_WINE_ROOT=$(mktemp -d /tmp/quorvant-wine-XXXXXX)
  export QUORVANT_WINE_ROOT
  export WINEPREFIX=$QUORVANT_WINE_ROOT/prefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko prompts
  mkdir -p "$QUORVANT_WINE_ROOT/locale"
  localedef -i ru_RU -f UTF-8 "$QUORVANT_WINE_ROOT/locale/ru_RU.UTF-8" 2>/dev/null || true
  export LOCPATH=$QUORVANT_WINE_ROOT/locale
  { export LC_ALL=ru_RU.UTF-8; } 2>/dev/null
  # wineboot reports the 32-bit parts it cannot set up without wine32 as a
  # failure; the 64-bit prefix is what counts.
  "$WINE64" wineboot --init >/dev/null 2>&1 || true
  "$WINESERVER" -w || true
  [[ -d $WINEPREFIX/drive_c/windows/system32 ]] || {
    echo "wineboot did not create the Wine prefix $WINEPREFIX" >&2
    return 1
  }
  # One server for every test: a host then starts in milliseconds.
  "$WINESERVER" -p
  local temp
  temp=$("$WINE64" cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
  QUORVANT_WINE_TEMP=$("$WINE64" winepath -u "$temp" 2>/dev/null | tr -d '\r')
  QUORVANT_WINE_TEMP=$(realpath -m "$QUORVANT_WINE_TEMP")
  export QUORVANT_WINE_TEMP
  [[ -d $QUORVANT_WINE_TEMP ]] || { echo "no Wine temporary folder ($temp)" >&2; return 1; }
}

wine_env_end() {
  [[ -n ${WINEPREFIX:-} ]] && "$WINESERVER" -k 2>/dev/null || true
  [[ -n ${QUORVANT_WINE_ROOT:-} ]] && rm -rf "$QUORVANT_WINE_ROOT"
  return 0
}
