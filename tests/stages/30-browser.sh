#!/usr/bin/env bash
# Browser end to end: the page library's tests, the registration script, ./x run,
# then Debian's headless Chromium (playwright-core, never a downloaded browser) and firefox-esr.
set -euo pipefail
cd "$(dirname "$0")/../.."

packages=(chromium firefox-esr openssl)
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
scripts/install-packages "${packages[@]}"

echo "-- page library: node tests, types"
(cd tests/page_library && npm ci --no-audit --no-fund --loglevel=error >/dev/null && node --test && npx tsc --noEmit -p .)

build=$PWD/build/release
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

echo "-- registration"
tests/browser/registration_test.sh "$build"

echo "-- ./x run for a scratch user"
run_home=$(mktemp -d)
trap 'rm -rf "$run_home"' EXIT
if ! HOME=$run_home XDG_CONFIG_HOME= XDG_DATA_HOME= QUORVANT_TOKEN_STORE= ./x run > "$run_home/run.log" 2>&1 ||
   ! grep -q "CMS Verification successful" "$run_home/run.log"; then
  cat "$run_home/run.log"; echo "./x run failed"; exit 1
fi
echo "./x run: $(grep -o 'subject=.*' "$run_home/run.log"), CMS Verification successful"

cd tests/browser
npm ci --no-audit --no-fund --loglevel=error >/dev/null
echo "-- Chromium end to end"
QUORVANT_BUILD=$build QUORVANT_BROWSER=chromium node --test
echo "-- Firefox end to end"
QUORVANT_BUILD=$build QUORVANT_BROWSER=firefox node --test
echo "-- bench/browser/measure.mjs once on 1 KiB, so that it keeps working"
for b in chromium firefox; do SIZES=1KiB QUORVANT_BUILD=$build node ../../bench/browser/measure.mjs $b 1 | grep '"page".*is signed'; done
