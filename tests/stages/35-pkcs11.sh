#!/usr/bin/env bash
# The browser flow in Chromium with SoftHSM2 tokens reached through p11-kit's
# proxy (the library's default), PINs from the scripted pinentry.
set -euo pipefail
cd "$(dirname "$0")/../.."

packages=(chromium openssl softhsm2 opensc p11-kit-modules)
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
scripts/install-packages "${packages[@]}"
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
eval "export $(tests/pkcs11/softhsm_tokens.sh "$scratch/softhsm")"
export QUORVANT_PKCS11_MODULE='' QUORVANT_PKCS11_CONFIG=$scratch/none.conf PINENTRY_PIN=1234
export QUORVANT_PINENTRY=$PWD/tests/pkcs11/scripted_pinentry.sh PINENTRY_LOG=$scratch/pinentry.log
export QUORVANT_TEST_TOKEN=pkcs11 QUORVANT_BUILD=$PWD/build/release QUORVANT_BROWSER=chromium

echo "-- Chromium end to end with SoftHSM2"
cd tests/browser
npm ci --no-audit --no-fund --loglevel=error >/dev/null
node --test
