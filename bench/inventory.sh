#!/usr/bin/env bash
# inventory.sh BUILD_DIR CORPUS_DIR [ROUNDS]: zeblix-inventory inside archives and with --hash,
# warm, the commands alternating round by round, medians. From the corpus's libs/ it makes (once)
# a .tar.gz and a .tar.zst, and a folder of eight .tar.gz of a slice each. It times the inventory
# with one job on each archive against `tar -xOf` of the same archive (decompression is the floor),
# the folder of archives with one job and with two, and `--hash sha256` over libs/ with one job and
# with two against sha256sum, and the corpus's small/ with two jobs against --no-archives (what the
# look for archives costs plain files), and prints the ratios and the inventory's peak memory.
# With BASELINE naming another zeblix-inventory (an earlier build), it runs the same inventory
# commands in the same rounds, and the last line but one gives each command's ratio to it.
set -euo pipefail
# shellcheck source=timing.sh
. "$(dirname "$0")/timing.sh"
[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR CORPUS_DIR [ROUNDS]" >&2; exit 2; }
build=$(cd "$1" && pwd) corpus=$(cd "$2" && pwd) rounds=${3:-5}
inventory=$build/zeblix-inventory
packed=$corpus/archives
if [ ! -e "$packed/made" ]; then
  mkdir -p "$packed/many"
  (cd "$corpus" && tar -czf "$packed/libs.tar.gz" libs && tar --zstd -cf "$packed/libs.tar.zst" libs)
  mapfile -t libs < <(cd "$corpus" && ls libs)
  for ((slice = 0; slice < 8; slice++)); do
    (cd "$corpus" && printf 'libs/%s\n' "${libs[@]}" | awk -v s=$slice 'NR % 8 == s' |
       tar -czf "$packed/many/part$slice.tar.gz" -T -)
  done
  touch "$packed/made"
fi

declare -A cmds=(
  [inv-gz]="$inventory -q -j 1 $packed/libs.tar.gz"
  [tar-gz]="tar -xzOf $packed/libs.tar.gz"
  [inv-zst]="$inventory -q -j 1 $packed/libs.tar.zst"
  [tar-zst]="tar --zstd -xOf $packed/libs.tar.zst"
  [many-j1]="$inventory -q -j 1 $packed/many"
  [many-j2]="$inventory -q -j 2 $packed/many"
  [sha256sum]="sha256sum $(printf '%s ' "$corpus"/libs/*)"
  [hash-j1]="$inventory -q -j 1 --hash sha256 $corpus/libs"
  [hash-j2]="$inventory -q -j 2 --hash sha256 $corpus/libs"
  [small-j2]="$inventory -q -j 2 $corpus/small"
  [small-plain]="$inventory -q -j 2 --no-archives $corpus/small"
)
inventory_runs=(inv-gz inv-zst many-j1 many-j2 hash-j1 hash-j2 small-j2 small-plain)
if [ -n "${BASELINE:-}" ]; then
  for c in "${inventory_runs[@]}"; do cmds[base-$c]=${cmds[$c]/#$inventory/$BASELINE}; done
fi
order=("${!cmds[@]}")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for c in "${order[@]}"; do eval "${cmds[$c]}" >/dev/null 2>&1 || true; done  # warm the cache
time_rounds "$rounds" "$tmp" "${order[@]}"
declare -A med
for c in "${order[@]}"; do med[$c]=$(median <"$tmp/$c"); done
peak() { { /usr/bin/time -f %M "$@" >/dev/null; } 2>&1 | tail -1; }
printf '%-8s %9s %9s %9s %9s\n' archive inventory 'tar -xO' inv/tar 'peak KiB'
for kind in gz zst; do
  printf '%-8s %9s %9s %9s %9s\n' "tar.$kind" "${med[inv-$kind]}" "${med[tar-$kind]}" \
    "$(ratio "${med[inv-$kind]}" "${med[tar-$kind]}")" \
    "$(peak "$inventory" -q -j 1 "$packed/libs.tar.$kind")"
done
printf 'eight .tar.gz: -j 1 %s s, -j 2 %s s: %sx as fast; peak %s KiB\n' "${med[many-j1]}" \
  "${med[many-j2]}" "$(ratio "${med[many-j1]}" "${med[many-j2]}")" \
  "$(peak "$inventory" -q -j 2 "$packed/many")"
printf 'libs --hash sha256: -j 1 %s s, -j 2 %s s, sha256sum %s s: -j 1 %sx, -j 2 %sx sha256sum\n' \
  "${med[hash-j1]}" "${med[hash-j2]}" "${med[sha256sum]}" \
  "$(ratio "${med[hash-j1]}" "${med[sha256sum]}")" "$(ratio "${med[hash-j2]}" "${med[sha256sum]}")"
printf 'small files -j 2: %s s, --no-archives %s s: %sx\n' "${med[small-j2]}" \
  "${med[small-plain]}" "$(ratio "${med[small-j2]}" "${med[small-plain]}")"
if [ -n "${BASELINE:-}" ]; then
  line="against the baseline:"
  for c in "${inventory_runs[@]}"; do line+=" $c $(ratio "${med[$c]}" "${med[base-$c]}")x"; done
  echo "$line"
fi
echo "summary: small files $(ratio "${med[small-j2]}" "${med[small-plain]}")x --no-archives; --hash -j 1 $(ratio "${med[hash-j1]}" "${med[sha256sum]}")x sha256sum; tar.gz $(ratio "${med[inv-gz]}" "${med[tar-gz]}")x tar -xzO, tar.zst $(ratio "${med[inv-zst]}" "${med[tar-zst]}")x tar --zstd -xO, -j 2 $(ratio "${med[many-j1]}" "${med[many-j2]}")x -j 1; $rounds rounds"
