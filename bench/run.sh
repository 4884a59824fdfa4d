#!/usr/bin/env bash
# run.sh BUILD_DIR CORPUS_DIR [ROUNDS]: times zeblix on each corpus against the read-only floor,
# cat, grep and the library's ScanFile (lib), warm, alternating the commands round by round, and
# prints medians, ratios and zeblix's peak memory; on the small files and the libraries also
# zeblix-inventory with one and two jobs, as speed-ups over zeblix, with its peak memory. The
# last line is a one-line summary; the medians also go to results/warm.csv (see timing.sh). With
# BASELINE naming another zeblix binary (an earlier build), it is timed in the same rounds too.
set -euo pipefail
# shellcheck source=timing.sh
. "$(dirname "$0")/timing.sh"
[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR CORPUS_DIR [ROUNDS]" >&2; exit 2; }
build=$(cd "$1" && pwd) corpus=$(cd "$2" && pwd) rounds=${3:-9}
zeblix=$build/zeblix floor=$build/bench/zeblix_read_floor library=$build/bench/zeblix_library_scan
inventory=$build/zeblix-inventory
eyecatcher=QuorvantisXZEBLIXzeblixXQuorvantis61100

csv=$(start_csv "$build" warm)

# time_commands NAME TARGET...: runs every command once a round, in a rotating order.
declare -A med
time_commands() {
  local name=$1; shift
  local -a targets=("$@") files=("$@")
  [ -d "${targets[0]}" ] && files=("${targets[0]}"/*)
  local -A cmds=(
    [zeblix]="env -u SVRLOG $zeblix ${targets[*]}"
    [floor]="$floor ${targets[*]}"
    [cat]="cat ${files[*]}"
    [grep]="grep -c -a -F $eyecatcher ${files[*]}"
    [lib]="$library ${targets[*]}"
  )
  [ "$name" = big-none ] && cmds[zeblix-0x102]="env SVRLOG=0x102 $zeblix ${targets[*]}"
  [ -n "${BASELINE:-}" ] && cmds[base]="env -u SVRLOG $BASELINE ${targets[*]}"
  if [ "$name" = small ] || [ "$name" = libs ]; then
    cmds[inv-j1]="$inventory -q -j 1 ${targets[*]}"
    cmds[inv-j2]="$inventory -q -j 2 ${targets[*]}"
  fi
  local order=("${!cmds[@]}") tmp
  tmp=$(mktemp -d)
  for c in "${order[@]}"; do eval "${cmds[$c]}" >/dev/null 2>&1 || true; done  # warm the cache
  time_rounds "$rounds" "$tmp" "${order[@]}"
  for c in "${order[@]}"; do med[$name,$c]=$(median <"$tmp/$c"); done
  add_csv "$csv" "$name" "${order[@]}"
  rm -rf "$tmp"
  med[$name,mem]=$( { /usr/bin/time -f %M env -u SVRLOG "$zeblix" "${targets[@]}" >/dev/null; } 2>&1 | tail -1)
  med[$name,inv-mem]=$( { /usr/bin/time -f %M "$inventory" -q "${targets[@]}" >/dev/null; } 2>&1 | tail -1)
}

printf '%-10s %9s %9s %9s %9s %9s %9s %9s %9s %9s %8s\n' corpus zeblix floor cat grep lib z/floor \
  z/cat z/grep lib/z 'peak KiB'
summary=""
for entry in big-none:big/none.bin big-block:big/block.bin small:small libs:libs; do
  name=${entry%%:*} target=$corpus/${entry#*:}
  time_commands "$name" "$target"
  z=${med[$name,zeblix]} f=${med[$name,floor]} c=${med[$name,cat]} g=${med[$name,grep]}
  l=${med[$name,lib]}
  printf '%-10s %9s %9s %9s %9s %9s %9s %9s %9s %9s %8s\n' "$name" "$z" "$f" "$c" "$g" "$l" \
    "$(ratio "$z" "$f")" "$(ratio "$z" "$c")" "$(ratio "$z" "$g")" "$(ratio "$l" "$z")" \
    "${med[$name,mem]}"
  summary+="$name $(ratio "$z" "$f")x floor, lib $(ratio "$l" "$z")x; "
  [ -n "${BASELINE:-}" ] && summary+="(baseline $(ratio "${med[$name,base]}" "$f")x floor, zeblix $(ratio "$z" "${med[$name,base]}")x baseline) "
done
for name in small libs; do
  z=${med[$name,zeblix]}
  printf '%-10s zeblix-inventory -j 1: %.2fx zeblix, -j 2: %.2fx as fast as zeblix; peak %s KiB\n' \
    "$name" "$(ratio "${med[$name,inv-j1]}" "$z")" "$(ratio "$z" "${med[$name,inv-j2]}")" \
    "${med[$name,inv-mem]}"
  summary+="inventory $name -j1 $(ratio "${med[$name,inv-j1]}" "$z")x, -j2 $(ratio "$z" "${med[$name,inv-j2]}")x faster; "
done
trace=$(ratio "${med[big-none,zeblix-0x102]}" "${med[big-none,zeblix]}")
echo "SVRLOG=0x102 against unset on big/none.bin: ${trace}x"
# The in-memory scan against the byte-at-a-time rule, from the micro-benchmarks.
micro=$("$build/bench/zeblix_scan_bench" --benchmark_filter='Random' --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null | grep median)
scan=$(echo "$micro" | awk -F, '/BM_ScanRandom/ {print $(NF-4)}')
bytewise=$(echo "$micro" | awk -F, '/BM_ByteAtATimeRandom/ {print $(NF-4)}')
kernel=$(echo "$micro" | awk -F, '/BM_ScanRandom/ {gsub(/"/, "", $(NF-2)); print $(NF-2)}')
printf 'in-memory scan (%s): %.1f GB/s, byte at a time %.2f GB/s, %.0fx\n' "$kernel" \
  "$(awk -v b="$scan" 'BEGIN {print b / 1e9}')" "$(awk -v b="$bytewise" 'BEGIN {print b / 1e9}')" \
  "$(awk -v a="$scan" -v b="$bytewise" 'BEGIN {print a / b}')"
echo "summary: ${summary}SVRLOG=0x102 ${trace}x; scan kernel $(ratio "$scan" "$bytewise")x byte at a time; $rounds rounds"
