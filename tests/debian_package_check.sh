#!/usr/bin/env bash
# debian_package_check.sh BUILD_DIR: builds the Debian packages of an optimised build, has lintian
# check each (any error fails), installs them all with dpkg -i, runs the installed tools and
# renders their manual pages, builds the C example against the installed -dev package with
# pkg-config and runs it, imports the Python package with Debian's Python, runs its inventory(),
# has mypy --strict check the Python examples against it, and removes the packages again. Needs
# root, as dpkg does.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd) source=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
packages=(zeblix libzeblix-dev libzeblix6 libzeblix-inventory6 python3-zeblix)
cleanup() { dpkg -r "${packages[@]}" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT

(cd "$build" && rm -f ./*.deb && cpack -G DEB >/dev/null 2>&1)
for deb in "$build"/*.deb; do
  report=$(lintian --suppress-tags maintscript-calls-ldconfig "$deb" 2>&1 | grep -v '^running with root' || true)
  [ -n "$report" ] && printf '%s\n' "$report"
  if grep -q '^E:' <<<"$report"; then echo "lintian errors in $(basename "$deb")" >&2; exit 1; fi
done
dpkg -i "$build"/*.deb >/dev/null

expected=$(cd "$work" && cp /usr/bin/zeblix . && zeblix zeblix)
grep -q 'Product Name       - zeblix' <<<"$expected"
[ "$(zeblix-inventory --version)" = "zeblix-inventory $(dpkg-query -W -f '${Version}' zeblix)" ]
zeblix-inventory -q /usr/bin/zeblix | grep -q '"product_name":"zeblix"'
for page in zeblix zeblix-inventory zeblix-block; do
  warnings=$(man --warnings -E UTF-8 -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "man $page: $warnings" >&2; exit 1; }
done
cc -std=c99 -pedantic -Wall -Werror "$source/examples/scan_api/report.c" \
  $(pkg-config --cflags --libs zeblix) -o "$work/report"
[ "$(cd "$work" && ./report zeblix)" = "$expected" ]
zeblix-block --company=Acme --product-name=widget -o "$work/version.c"
echo 'int main(void) { return 0; }' >"$work/main.c"
cc -std=c89 -O2 -flto -Wl,--gc-sections "$work/version.c" "$work/main.c" \
  $(pkg-config --cflags zeblix) -o "$work/widget"
zeblix "$work/widget" | grep -q 'Product Name       - widget'
[ "$(realpath "$(pkg-config --variable=generator zeblix)")" = /usr/bin/zeblix-block ]
[ "$(cd "$work" && /usr/bin/python3 -c 'import zeblix; print(zeblix.scan_file("zeblix")[0].product_name)')" = zeblix ]
[ "$(cd "$work" && /usr/bin/python3 -c 'import zeblix; print(next(zeblix.inventory("zeblix"))["product_name"])')" = zeblix ]
(cd "$work" && /usr/bin/python3 -m mypy --strict --no-incremental "$source/examples/python" >/dev/null)
echo "Debian packages: lintian without errors, installed, used and removed: $(cd "$build" && ls ./*.deb | xargs)"
