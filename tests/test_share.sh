#!/usr/bin/env bash
# Prints test, product and share lines (non-blank lines of C/C++/Python/JS/shell/cmd files
# tracked by git; bench/ and node_modules left out) and fails when tests exceed 36 %.
cd "$(dirname "$0")/.." || exit 2
count() { xargs -r -d '\n' cat -- | grep -c '[^[:space:]]'; }
mapfile -t all < <(git ls-files | grep -E '\.(c|cc|cpp|h|hpp|py|js|mjs|sh|cmd)$' |
  grep -v -E '^bench/|(^|/)node_modules/|(^|/)build/')
tests=$(printf '%s\n' "${all[@]}" | grep -E '^(tests|fuzz|vendor/fake)/' | count)
product=$(printf '%s\n' "${all[@]}" | grep -v -E '^(tests|fuzz|vendor/fake)/' | count)
share=$((100 * tests / (tests + product)))
echo "tests $tests  product $product  share $share %"
((share <= 36))
