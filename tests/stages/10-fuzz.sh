#!/usr/bin/env bash
# Fuzzes the libFuzzer harnesses side by side from their seeds and regression
# inputs for FUZZ_SECONDS (30: a smoke run of about 15 s of one core each
# here; campaigns set more). A finding fails the stage; it is kept under
# build/fuzz/findings/ and printed in hex.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${FUZZ_SECONDS:-30}
harnesses=(json_parse base64 utf_convert message_loop)

scripts/install-packages clang libclang-rt-14-dev

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${harnesses[@]/%/_fuzzer}"

findings=$PWD/build/fuzz/findings
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$findings" "${harnesses[@]/#/$scratch/}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run_harness() {  # name
  local name=$1 fuzzer=build/fuzz/bin/${1}_fuzzer seeds=(fuzz/corpus/$1) finding
  [[ -d fuzz/regressions/$name ]] && seeds+=(fuzz/regressions/$name)
  # libFuzzer runs every seed before it mutates any: a seed that fails is a
  # finding like any other.
  if ! "$fuzzer" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
      -artifact_prefix="$findings/$name-" "$scratch/$name" "${seeds[@]}" 2>"$scratch/$name.log"; then
    tail -40 "$scratch/$name.log"
    shopt -s nullglob  # in this harness's own subshell
    for finding in "$findings/$name"-*; do
      echo "finding of ${name}_fuzzer: $finding"
      od -A x -t x1z -v "$finding" | head -40
    done
    return 1
  fi
  grep -E 'stat::number_of_executed_units|DONE' "$scratch/$name.log" | tail -2
}

echo "== fuzz: ${harnesses[*]} (${seconds}s, side by side)"
for name in "${harnesses[@]}"; do run_harness "$name" > "$scratch/$name.out" & done
failed=0
for name in "${harnesses[@]}"; do wait -n || failed=1; done
for name in "${harnesses[@]}"; do echo "-- $name" && cat "$scratch/$name.out"; done
exit "$failed"
