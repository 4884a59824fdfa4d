#!/usr/bin/env bash
# plot.sh RESULTS_DIR OUT_DIR: draws the medians that bench/run.sh and bench/cold.sh wrote
# (warm.csv, cold.csv) as SVG bar charts with gnuplot: the seconds each command takes on each
# corpus, zeblix beside the read-only floor, cat, the parallel floor, grep, the library and the
# inventory; the title names the day and the machine of the run.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 RESULTS_DIR OUT_DIR" >&2; exit 2; }
results=$1 out=$2
mkdir -p "$out"
mapfile -t machine <"$results/machine.txt"
# The bars of each corpus, in this order; a command a corpus was not timed with is left out.
columns=(zeblix floor cat parallel grep lib inv-j1 inv-j2 inventory base)
declare -A label=([zeblix]=zeblix [floor]="read-only floor" [cat]=cat
                  [parallel]="parallel floor (64 readers)" [grep]="grep -F"
                  [lib]="libzeblix" [inv-j1]="inventory -j 1" [inv-j2]="inventory -j 2"
                  [inventory]="inventory -j 2" [base]="earlier zeblix")
for kind in warm cold; do
  csv=$results/$kind.csv
  [ -f "$csv" ] || continue
  table=$(mktemp)
  # From one line a median to one row a corpus, one column a command.
  awk -F, -v cols="${columns[*]}" '
    NR == 1 { next }
    { if (!($1 in seen)) { seen[$1] = 1; corpora[++n] = $1 } value[$1 "," $2] = $3; used[$2] = 1 }
    END {
      count = split(cols, order, " ")
      header = "corpus"
      for (c = 1; c <= count; c++) if (order[c] in used) header = header "," order[c]
      print header
      for (r = 1; r <= n; r++) {
        row = corpora[r]
        for (c = 1; c <= count; c++) if (order[c] in used) {
          key = corpora[r] "," order[c]
          row = row "," ((key in value) ? value[key] : "-")
        }
        print row
      }
    }' "$csv" >"$table"
  # The header names the commands as a reader knows them.
  IFS=, read -r -a names <<<"$(head -1 "$table")"
  header=corpus
  for name in "${names[@]:1}"; do header+=",${label[$name]:-$name}"; done
  sed -i "1s/.*/$header/" "$table"
  gnuplot <<GNUPLOT
set terminal svg size 960,480 dynamic font "sans,12" background "white"
set output "$out/$kind.svg"
set title "zeblix, $kind page cache: median seconds per corpus\\n${machine[0]}, ${machine[2]}, ${machine[3]}, ${machine[1]}"
set datafile separator ","
set datafile missing "-"
set style data histogram
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set ylabel "seconds (median)"
set yrange [0:*]
set grid ytics
set key top left
plot for [i=2:${#names[@]}] "$table" using i:xtic(1) title columnheader(i)
GNUPLOT
  rm -f "$table"
  echo "$out/$kind.svg"
done
