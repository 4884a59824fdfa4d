#!/usr/bin/env bash
# memory.sh BUILD_DIR WORK_DIR: zeblix's peak resident memory on a 16 GiB file (sparse, with a
# block after the 4 GiB mark) and on a directory of 100,000 small files.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR WORK_DIR" >&2; exit 2; }
zeblix=$(cd "$1" && pwd)/zeblix work=$2
mkdir -p "$work/many"
"$(cd "$1" && pwd)/bench/zeblix_make_corpus" --huge "$work/huge.bin"
if [ ! -e "$work/many/f99999" ]; then
  (cd "$work/many" && seq -f 'f%05g' 0 99999 | xargs touch)
  for i in $(seq 0 999 99999); do printf 'QuorvantisX%05d' "$i" >"$work/many/f$(printf %05d "$i")"; done
fi
for target in "$work/huge.bin" "$work/many"; do
  /usr/bin/time -f "%M KiB peak, %e s: $target" "$zeblix" "$target" >/dev/null
done
