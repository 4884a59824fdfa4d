#!/usr/bin/env bash
# valgrind_check.sh BUILD_DIR: runs the built (unsanitized) utility under valgrind's memcheck over
# every golden fixture with each of its SVRLOG values, and over its own image. Any memory error or
# definite leak fails the check.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
zeblix=$(cd "$1" && pwd)/zeblix
golden=$(cd "$(dirname "$0")/golden" && pwd)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
memcheck=(valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite
          --log-file="$log")
fail() { echo "memcheck failed: $1" >&2; cat "$log" >&2; exit 1; }
runs=0
for case in "$golden"/*/; do
  mapfile -t args <"$case/args"
  [ "${#args[@]}" -eq 1 ] && [ -z "${args[0]}" ] && args=()
  while IFS= read -r label; do
    [ -n "$label" ] || continue
    if [ "$label" = unset ]; then
      (cd "$case/input" && env -u SVRLOG "${memcheck[@]}" "$zeblix" "${args[@]}" >/dev/null 2>&1)
    else
      (cd "$case/input" && SVRLOG=$label "${memcheck[@]}" "$zeblix" "${args[@]}" >/dev/null 2>/dev/null)
    fi || fail "$(basename "$case") SVRLOG=$label"
    runs=$((runs + 1))
  done <"$case/runs"
done
SVRLOG=0x3f603 "${memcheck[@]}" "$zeblix" "$zeblix" >/dev/null 2>/dev/null ||
  fail "the utility's own image"
echo "memcheck clean: $((runs + 1)) runs"
