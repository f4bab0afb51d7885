# Private Wine prefixes whose wineservers keep running (hosts start in
# milliseconds); its Russian locale (CP_ACP 1251) puts the double's Cyrillic
# error text through the ANSI conversions.
WINE64=${WINE64:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}

wine_env_begin() {
  QUORVANT_WINE_ROOT=$(mktemp -d /tmp/quorvant-wine-XXXXXX)
  export WINEPREFIX=$QUORVANT_WINE_ROOT/prefix WINEDEBUG=-all LOCPATH=$QUORVANT_WINE_ROOT/locale
  export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko prompts
  mkdir -p "$LOCPATH" && localedef -i ru_RU -f UTF-8 "$LOCPATH/ru_RU.UTF-8" 2>/dev/null || true
  { export LC_ALL=ru_RU.UTF-8; } 2>/dev/null
  # The zip scripts' test has a prefix of its own, so that it runs beside the
  # MSI's: both write the same keys. Both prefixes are made side by side.
  export QUORVANT_ZIP_WINEPREFIX=$QUORVANT_WINE_ROOT/zip-prefix
  local prefix prefixes=("$WINEPREFIX" "$QUORVANT_ZIP_WINEPREFIX")
  # Without wine32 wineboot reports a failure; the 64-bit prefix is what counts.
  for prefix in "${prefixes[@]}"; do WINEPREFIX=$prefix "$WINE64" wineboot --init >/dev/null 2>&1 & done
  wait
  for prefix in "${prefixes[@]}"; do
    WINEPREFIX=$prefix "$WINESERVER" -w || true
    [[ -d $prefix/drive_c/windows/system32 ]] || { echo "wineboot did not create $prefix" >&2; return 1; }
    WINEPREFIX=$prefix "$WINESERVER" -p
  done
  local temp
  temp=$("$WINE64" cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
  QUORVANT_WINE_TEMP=$(realpath -m "$("$WINE64" winepath -u "$temp" 2>/dev/null | tr -d '\r')")
  export QUORVANT_WINE_TEMP
  [[ -d $QUORVANT_WINE_TEMP ]] || { echo "no Wine temporary folder ($temp)" >&2; return 1; }
}

wine_env_end() {
  local prefix
  for prefix in ${WINEPREFIX:-} ${QUORVANT_ZIP_WINEPREFIX:-}; do WINEPREFIX=$prefix "$WINESERVER" -k 2>/dev/null; done
  [[ -n ${QUORVANT_WINE_ROOT:-} ]] && rm -rf "$QUORVANT_WINE_ROOT"
  return 0
}
