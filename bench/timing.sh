# Shared by the benchmark scripts: the seconds one command line takes (its output thrown away),
# rounds of commands in a rotating order, the median of numbers read one a line, and a ratio to
# two decimals.
seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000 ))e-6" | awk '{printf "%.6f\n", $1}'
}

median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

# time_rounds ROUNDS DIR NAME...: runs the commands named, from the caller's associative array
# `cmds`, once a round in an order that rotates round by round; appends each one's seconds to
# DIR/NAME.
time_rounds() {
  local rounds=$1 dir=$2 r i c
  shift 2
  local -a order=("$@")
  for ((r = 0; r < rounds; r++)); do
    for ((i = 0; i < ${#order[@]}; i++)); do
      c=${order[$(( (i + r) % ${#order[@]} ))]}
      # shellcheck disable=SC2086
      seconds ${cmds[$c]} >>"$dir/$c"
    done
  done
}
