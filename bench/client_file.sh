#!/usr/bin/env bash
# The native baseline for large files: quorvant_client --file signs a file of
# each size (MiB; default 0.001 20 48 100 512) through stageContent parts with
# the test double, and prints the wall time and the host's peak resident set.
#   bench/client_file.sh [BUILD_DIR] [MIB...]
set -euo pipefail
build=$(realpath "${1:-build/release}")
shift || true
sizes=("$@")
((${#sizes[@]})) || sizes=(0.001 20 48 100 512)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The client starts the host it is given: this wrapper records the host's peak.
printf '#!/bin/sh\nexec /usr/bin/time -f %%M -o %s/rss "%s/bin/quorvant_host" "$@"\n' \
  "$work" "$build" >"$work/host"
chmod +x "$work/host"
for mib in "${sizes[@]}"; do
  head -c "$(awk -v m="$mib" 'BEGIN { printf "%d", m * 1048576 }')" /dev/urandom >"$work/data"
  start=$(date +%s.%N)
  result=$(TMPDIR=$work "$build/bin/quorvant_client" --host "$work/host" --file "$work/data" \
    --member result '{"data":{"requestAction":"getSignature","containerName":"C1"}}')
  end=$(date +%s.%N)
  awk -v m="$mib" -v r="$result" -v s="$start" -v e="$end" -v k="$(cat "$work/rss")" \
    'BEGIN { printf "%s MiB: %s in %.2f s, host peak RSS %.1f MiB\n", m, r, e - s, k / 1024 }'
done
