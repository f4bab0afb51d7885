#!/usr/bin/env bash
# Static analysis stage: include layers (scripts/check-layers), clang-format (.clang-format), clang-tidy (.clang-tidy)
# and cppcheck over the enforced folders, each with zero findings allowed.
# platform/win32 builds only with MinGW, so clang-tidy cannot check it here.
set -euo pipefail
cd "$(dirname "$0")/../.."

echo "== lint: include layers (README layout table)"
scripts/check-layers

scripts/install-packages clang-format clang-tidy cppcheck

product=(host requests signing files text json logging platform/posix vendor/fake vendor/tokens
         vendor/consent tools)
enforced=("${product[@]}" fuzz tests/stress)
mapfile -t sources < <(git ls-files "${enforced[@]}" | grep -E '\.(cpp|h)$' | grep -v -E '/windows/|_win32\.cpp$')
# The harnesses build in the fuzz preset only, so tidy skips them.
mapfile -t units < <(printf '%s\n' "${sources[@]}" | grep -E '\.cpp$' | grep -v '^fuzz/')

echo "== lint: clang-format (${#sources[@]} files)"
clang-format --dry-run --Werror "${sources[@]}"

# The release build's compile commands (./x test configured it first).
[[ -f build/release/compile_commands.json ]] || cmake --preset release >/dev/null
echo "== lint: clang-tidy (${#units[@]} files)"
printf '%s\n' "${units[@]}" |
  xargs -P "$(nproc)" -n 4 clang-tidy -p build/release --quiet 2> >(grep -v "warnings generated" >&2)

echo "== lint: cppcheck"
cppcheck --enable=warning,performance,portability --std=c++17 --inline-suppr --quiet \
  --error-exitcode=1 -I . "${product[@]}"

echo "== lint: test share"
tests/test_share.sh
