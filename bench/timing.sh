# Shared by the benchmark scripts: the seconds one command line takes (its output thrown away),
# rounds of commands in a rotating order, the median of numbers read one a line, a ratio to two
# decimals, and the medians written as CSV for bench/plot.sh.
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

# start_csv BUILD_DIR NAME: the CSV file NAME.csv of medians in $RESULTS (default BUILD_DIR/results),
# begun with its header, beside machine.txt: the day, the kernel, the cores and the processor.
start_csv() {
  local dir=${RESULTS:-$1/results}
  mkdir -p "$dir"
  { date +%F; uname -sr; echo "$(nproc) cores"
    grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'; } >"$dir/machine.txt"
  echo 'corpus,command,seconds' >"$dir/$2.csv"
  echo "$dir/$2.csv"
}

# add_csv FILE CORPUS COMMAND...: appends the caller's medians med[CORPUS,COMMAND].
add_csv() {
  local file=$1 corpus=$2 c
  shift 2
  for c in "$@"; do echo "$corpus,$c,${med[$corpus,$c]}" >>"$file"; done
}
