#!/usr/bin/env bash
# Prints test, product and share lines (non-blank lines of the C/C++, Python,
# JavaScript, TypeScript, shell and cmd files git tracks, scripts without an
# extension known by their #! line; bench/ and node_modules left out) and fails
# when tests exceed 36 %. The project's rule is at most a third of all code; the
# margin lets a feature land with its tests before the suite is trimmed.
cd "$(dirname "$0")/.." || exit 2
count() { xargs -r -d '\n' cat -- | grep -c '[^[:space:]]'; }
is_code() {
  [[ $1 =~ \.(c|cc|cpp|h|hpp|py|js|mjs|ts|sh|cmd)$ ]] ||
    { [[ ${1##*/} != *.* && -f $1 ]] && head -n1 "$1" | grep -qE '^#!.*(sh|bash|python3?)$'; }
}
mapfile -t all < <(git ls-files | grep -v -E '^bench/|(^|/)node_modules/|(^|/)build/' |
  while read -r f; do is_code "$f" && echo "$f"; done)
tests=$(printf '%s\n' "${all[@]}" | grep -E '^(tests|fuzz|vendor/fake)/' | count)
product=$(printf '%s\n' "${all[@]}" | grep -v -E '^(tests|fuzz|vendor/fake)/' | count)
share=$(awk -v t="$tests" -v p="$product" 'BEGIN { printf "%.1f", 100 * t / (t + p) }')
echo "tests $tests  product $product  share $share %"
((100 * tests <= 36 * (tests + product))) || { echo "test code is over 36 % of all code" >&2; exit 1; }
