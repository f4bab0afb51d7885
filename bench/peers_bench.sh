#!/usr/bin/env bash
# Our host against the two comparison peers in bench/peers/ (run by bench/run.sh).
set -euo pipefail
"$(dirname "$0")/../scripts/install-packages" nodejs python3-cryptography
/usr/bin/python3 "$(dirname "$0")/peers/compare.py" "${1:?build directory}"
