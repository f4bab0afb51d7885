#!/usr/bin/env bash
# The Windows product: the 32-bit build cannot run here, so it is linked and
# inspected; the x64 build runs the process suite and installers under wine64.
set -euo pipefail
cd "$(dirname "$0")/../.."
# Only wine64: this machine runs no 32-bit code, so wine32 would be useless.
scripts/install-packages --no-install-recommends g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine64 locales zip wixl msitools

# Release is configured again: its "windows" tests find the tools installed above.
for preset in windows-x86 windows-x64 release; do
  echo "-- build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

source tests/windows/wine_env.sh
trap wine_env_end EXIT
wine_env_begin
echo "-- tests under wine64 (prefix $WINEPREFIX)"
ctest --preset windows -j2
