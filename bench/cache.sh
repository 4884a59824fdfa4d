#!/usr/bin/env bash
# cache.sh BUILD_DIR CORPUS_DIR [ROUNDS]: what --cache saves a nightly rescan. Each round, with
# the page cache, dentries and inodes dropped before every timed run (drop_caches: run as root):
# the first scan of the corpus tree with a new cache, the same scan without a cache, an unchanged
# rescan, and a rescan after 1% of the files (every hundredth) were touched. Then, warm, a full
# scan of the corpus's libs/ against an unchanged rescan of it, alternating; and, cold, the first
# scan of one big file with -j 1 against the read-only floor, alternating. Prints medians of the
# seconds and of the bytes read from the disk (getrusage's block inputs), their ratios to the first
# scan, and the cache's size per file.
set -euo pipefail
# shellcheck source=timing.sh
. "$(dirname "$0")/timing.sh"
[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR CORPUS_DIR [ROUNDS]" >&2; exit 2; }
[ -w /proc/sys/vm/drop_caches ] || { echo "$0: dropping caches needs root" >&2; exit 2; }
build=$(cd "$1" && pwd) corpus=$(cd "$2" && pwd) rounds=${3:-5}
inventory=$build/zeblix-inventory floor=$build/bench/zeblix_read_floor
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cache=$work/inventory.db

drop() { sync; echo 3 > /proc/sys/vm/drop_caches; }

# measured NAME COMMAND...: appends the run's seconds to work/NAME.s and the bytes it read from
# the disk (its block inputs, in 512-byte units) to work/NAME.b.
measured() {
  local name=$1 start end blocks
  shift
  start=$(date +%s%N)
  /usr/bin/time -f '%I' -o "$work/time.out" "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  blocks=$(tail -1 "$work/time.out")
  echo "$(( (end - start) / 1000 ))e-6" | awk '{printf "%.6f\n", $1}' >>"$work/$name.s"
  echo $((blocks * 512)) >>"$work/$name.b"
}

mapfile -t every_hundredth < <(find "$corpus" -type f | sort | awk 'NR % 100 == 0')
for ((r = 0; r < rounds; r++)); do
  rm -f "$cache" "$cache"-*
  drop; measured first "$inventory" -q --cache "$cache" "$corpus"
  drop; measured plain "$inventory" -q "$corpus"
  drop; measured unchanged "$inventory" -q --cache "$cache" "$corpus"
  touch "${every_hundredth[@]}"
  drop; measured changed "$inventory" -q --cache "$cache" "$corpus"
  # Files changed within two seconds of a read are read again the next time: the next round's
  # first scan must not meet them so.
  sleep 3
done
entries=$(sqlite3 "$cache" 'SELECT count(*) FROM files')
records=$("$inventory" -q "$corpus" | wc -l)
size=$(stat -c %s "$cache")

# Warm, libs/: a full scan, then rescans from a cache made by one.
libs_cache=$work/libs.db
"$inventory" -q --cache "$libs_cache" "$corpus/libs" >/dev/null
python3 "$(dirname "$0")/alternate.py" 21 "full=$inventory -q $corpus/libs" \
  "rescan=$inventory -q --cache $libs_cache $corpus/libs" >"$work/warm"

# Cold, one big file, -j 1, against the floor.
for ((r = 0; r < 15; r++)); do
  for c in floor inv-j1; do
    drop
    case $c in
      floor) measured floor "$floor" "$corpus/big/none.bin" ;;
      inv-j1) measured inv-j1 "$inventory" -q -j 1 "$corpus/big/none.bin" ;;
    esac
  done
done

declare -A med bytes
for c in first plain unchanged changed floor inv-j1; do
  med[$c]=$(median <"$work/$c.s")
  bytes[$c]=$(median <"$work/$c.b")
done
med[full]=$(awk '$1 == "full" {print $2}' "$work/warm")
med[rescan]=$(awk '$1 == "rescan" {print $2}' "$work/warm")
printf '%-28s %10s %14s %10s %10s\n' run seconds 'bytes read' 'time/first' 'read/first'
for c in first plain unchanged changed; do
  printf '%-28s %10s %14s %10s %10s\n' "$c" "${med[$c]}" "${bytes[$c]}" \
    "$(ratio "${med[$c]}" "${med[first]}")" \
    "$(awk -v a="${bytes[$c]}" -v b="${bytes[first]}" 'BEGIN {printf "%.4f", a / b}')"
done
printf 'cache: %s bytes for %s files (%s lines): %s bytes a file\n' "$size" "$entries" "$records" \
  "$(awk -v s="$size" -v n="$entries" 'BEGIN {printf "%.0f", s / n}')"
printf 'warm libs/: full scan %s s, unchanged rescan %s s: %sx\n' "${med[full]}" \
  "${med[rescan]}" "$(ratio "${med[rescan]}" "${med[full]}")"
printf 'cold big/none.bin, -j 1: inventory %s s, floor %s s: %sx\n' "${med[inv-j1]}" \
  "${med[floor]}" "$(ratio "${med[inv-j1]}" "${med[floor]}")"
echo "summary: cold unchanged rescan $(ratio "${med[unchanged]}" "${med[first]}")x the first scan's time, $(awk -v a="${bytes[unchanged]}" -v b="${bytes[first]}" 'BEGIN {printf "%.4f", a / b}') of its bytes; 1% changed $(ratio "${med[changed]}" "${med[first]}")x; warm libs rescan $(ratio "${med[rescan]}" "${med[full]}")x; big file -j 1 $(ratio "${med[inv-j1]}" "${med[floor]}")x floor; $rounds rounds"
