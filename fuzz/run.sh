#!/usr/bin/env bash
# run.sh [SECONDS]: builds the fuzz targets (the "fuzz" preset, clang with libFuzzer) and runs each
# for SECONDS (default 20) from its seeds and the inputs that once crashed. A crash fails the run
# and leaves the input in build/fuzz/crashes/ENTRY/, to be added to fuzz/regressions/ENTRY/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
cmake --workflow --preset fuzz >/dev/null
for entry in parser file svrlog library inventory_line archive packing identity event_log; do
  corpus=build/fuzz/corpus/$entry crashes=build/fuzz/crashes/$entry
  mkdir -p "$corpus" "$crashes" "build/fuzz/fuzz/seeds/$entry"
  log=build/fuzz/$entry.log status=0
  # Archives need room for a few headers; their memory stays far below the default bound.
  max_len=8192 memory=2048
  case $entry in archive|packing) max_len=65536 memory=512 ;; esac
  made=(); [ -d "fuzz/corpus/$entry" ] && made=("fuzz/corpus/$entry")
  [ -d "fuzz/regressions/$entry" ] && made+=("fuzz/regressions/$entry")
  build/fuzz/fuzz/zeblix_fuzz_$entry -max_total_time="$seconds" -max_len=$max_len \
    -rss_limit_mb=$memory -close_fd_mask=3 -artifact_prefix="$crashes/" -print_final_stats=1 \
    "$corpus" "build/fuzz/fuzz/seeds/$entry" "${made[@]}" \
    >"$log" 2>&1 || status=$?
  grep -E '^stat::number_of_executed_units|DONE|ERROR|SUMMARY' "$log" | sed "s/^/  $entry: /"
  [ "$status" -eq 0 ] || { echo "fuzz target $entry failed; see $log and $crashes" >&2; exit 1; }
done
