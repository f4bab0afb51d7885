#!/usr/bin/env bash
# The Windows product. Builds the 32-bit product (windows-x86: it cannot run
# here, so it is linked and inspected) and the same code as 64-bit binaries
# (windows-x64), then runs the process-level suite against the x64 host and
# test double under wine64 in a Wine prefix of its own, and checks both
# builds' import tables, exports, runtime and manifest.
set -euo pipefail
cd "$(dirname "$0")/../.."

PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
          binutils-mingw-w64-x86-64 wine64 locales zip wixl msitools)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing missing packages: ${missing[*]}"
  sudo=""; [[ $(id -u) -ne 0 ]] && sudo="sudo"
  $sudo apt-get update -qq
  # Only wine64: this machine runs no 32-bit code, so wine32 would be useless.
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
      -o DPkg::Lock::Timeout=600 "${missing[@]}" >/dev/null
fi

build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

echo "-- 32-bit product build (linked, not run)"
build windows-x86
echo "-- 64-bit build for the tests under Wine"
build windows-x64
echo "-- Linux test programs"
build wine-tests

source tests/windows/wine_env.sh
trap wine_env_end EXIT
wine_env_begin
echo "-- tests under wine64 (prefix $WINEPREFIX)"
ctest --test-dir build/wine-tests -L windows -j2 --output-on-failure
