#!/usr/bin/env bash
# cold.sh BUILD_DIR CORPUS_DIR [ROUNDS]: times zeblix on each corpus with the page cache cold,
# against the read-only floor (which reads file after file, without look-ahead), cat and, for a
# directory, the parallel floor: 64 threads reading its files at once in no particular order, as
# many as the look-ahead keeps asked for (what the disk gives to parallel readers; no reader that
# reports in order can beat it). Before every timed run the corpus is evicted from the page cache
# by bench/zeblix_evict (posix_fadvise(POSIX_FADV_DONTNEED) on every file: no root, no
# drop_caches); the commands alternate round by round, and the medians and ratios are printed
# (and written to results/cold.csv, see timing.sh), each median with its spread (the fastest and
# slowest round). The last line is a summary. With BASELINE naming another zeblix binary (an
# earlier build), it is timed in the same rounds too.
#
# A first round is run and thrown away: evicting pages leaves inodes in memory, and right after a
# corpus is written all of them are, so the first round would be the fastest of all; the rounds
# after it meet what a walk after a reboot meets. At least 9 rounds are timed.
set -euo pipefail
# shellcheck source=timing.sh
. "$(dirname "$0")/timing.sh"
[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR CORPUS_DIR [ROUNDS]" >&2; exit 2; }
build=$(cd "$1" && pwd) corpus=$(cd "$2" && pwd) rounds=${3:-9}
[ "$rounds" -ge 9 ] || { echo "$0: at least 9 rounds, for a median that holds" >&2; exit 2; }
zeblix=$build/zeblix floor=$build/bench/zeblix_read_floor evict=$build/bench/zeblix_evict
inventory=$build/zeblix-inventory

csv=$(start_csv "$build" cold)

declare -A med spread
time_cold() {
  local name=$1 target=$2
  local -a files=("$target")
  [ -d "$target" ] && files=("$target"/*)
  local -A cmds=(
    [zeblix]="env -u SVRLOG $zeblix $target"
    [floor]="$floor $target"
    [cat]="cat ${files[*]}"
  )
  [ -x "$inventory" ] && cmds[inventory]="$inventory -q -j 2 $target"
  [ -x "$inventory" ] && cmds[inv-j1]="$inventory -q -j 1 $target"
  [ -d "$target" ] && cmds[parallel]="$floor -j 64 $target"
  [ -n "${BASELINE:-}" ] && cmds[base]="env -u SVRLOG $BASELINE $target"
  local order=("${!cmds[@]}") tmp c
  tmp=$(mktemp -d)
  for ((r = 0; r <= rounds; r++)); do
    for ((i = 0; i < ${#order[@]}; i++)); do
      c=${order[$(( (i + r) % ${#order[@]} ))]}
      "$evict" "$target" 2>/dev/null
      # shellcheck disable=SC2086
      if ((r == 0)); then seconds ${cmds[$c]} >/dev/null; else seconds ${cmds[$c]} >>"$tmp/$c"; fi
    done
  done
  for c in "${order[@]}"; do
    med[$name,$c]=$(median <"$tmp/$c")
    spread[$name,$c]=$(sort -g "$tmp/$c" | sed -n '1p;$p' | paste -sd- -)
  done
  add_csv "$csv" "$name" "${order[@]}"
  rm -rf "$tmp"
}

row='%-10s %9s %9s %9s %9s %9s %9s %9s %9s %9s\n'
# shellcheck disable=SC2059
printf "$row" corpus zeblix floor cat inventory parallel z/floor z/cat inv/cat par/floor
summary=""
for entry in big-none:big/none.bin small:small libs:libs; do
  name=${entry%%:*} target=$corpus/${entry#*:}
  time_cold "$name" "$target"
  z=${med[$name,zeblix]} f=${med[$name,floor]} c=${med[$name,cat]} i=${med[$name,inventory]:-}
  p=${med[$name,parallel]:-}
  # shellcheck disable=SC2059
  printf "$row" "$name" "$z" "$f" "$c" "${i:--}" "${p:--}" "$(ratio "$z" "$f")" \
    "$(ratio "$z" "$c")" "$([ -n "$i" ] && ratio "$i" "$c" || echo -)" \
    "$([ -n "$p" ] && ratio "$p" "$f" || echo -)"
  line="  spread (fastest-slowest round):"
  for k in zeblix floor cat inventory inv-j1 parallel base; do
    [ -z "${spread[$name,$k]:-}" ] || line+=" $k ${spread[$name,$k]}"
  done
  echo "$line"
  summary+="$name $(ratio "$z" "$f")x floor, $(ratio "$z" "$c")x cat"
  [ -z "$p" ] || summary+=", $(ratio "$z" "$p")x parallel floor (which is $(ratio "$p" "$f")x floor)"
  [ -z "${BASELINE:-}" ] || summary+=", $(ratio "$z" "${med[$name,base]}")x baseline"
  [ -z "${med[$name,inv-j1]:-}" ] || summary+=", inventory -j 1 $(ratio "${med[$name,inv-j1]}" "$f")x floor"
  summary+="; "
done
echo "summary (cold): ${summary}$rounds rounds"
