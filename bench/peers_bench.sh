#!/usr/bin/env bash
# Our host against the two comparison peers in bench/peers/ (run by bench/run.sh).
set -euo pipefail
missing=()
for p in nodejs python3-cryptography; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""; [[ $(id -u) -ne 0 ]] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
/usr/bin/python3 "$(dirname "$0")/peers/compare.py" "${1:?build directory}"
