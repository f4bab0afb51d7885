#!/usr/bin/env bash
# Runs every benchmark program of a build: ./bench/run.sh BUILD_DIR [filter]
set -euo pipefail
build=${1:?build directory}
filter=${2:-.}
for program in "$build"/bin/*_bench; do
  echo "== $(basename "$program")"
  "$program" --benchmark_filter="$filter" --benchmark_min_time=0.2
done
for script in "$(dirname "$0")"/*_bench.sh; do
  [[ -e $script ]] || continue
  echo "== $(basename "$script")"
  "$script" "$build"
done
