#!/usr/bin/env bash
# fleet_recipe_check.sh ZEBLIX_INVENTORY ZEBLIX: the "across many machines" recipe of the README,
# run for real on this machine. GNU parallel runs four jobs standing in for four hosts (each with
# --host and its own product tree; one host cannot be reached), keeping a job log; the question
# "which hosts carry widget below 1.10" is asked of the lines with jq and, after a streaming
# import, with the sqlite3 shell; versions 1.9.2, 1.10.0 and 1.2.3 must be compared as versions.
# Each host keeps a cache, and a second night gives the same lines.
# The CSV variant keeps one header for the whole fleet.
# shellcheck source=recipe_check_setup.sh
. "$(dirname "$0")/recipe_check_setup.sh"
block=$(dirname "$inventory")/zeblix-block

# host1 carries widget 1.9.2, host2 1.10.0, host3 1.2.3; host4 has no tree (it cannot be reached).
for pair in host1:1.9.2 host2:1.10.0 host3:1.2.3; do
  mkdir -p "${pair%%:*}/opt/product"
  "$block" --format=raw --company=Acme --product-name=widget --product-version="${pair##*:}" \
    -o "${pair%%:*}/opt/product/widget"
done

export inventory
night() {
  parallel --will-cite --joblog fleet.log -j 4 -k \
    '"$inventory" --nice -q --cache {}/inventory.db --host {} {}/opt/product' \
    ::: host1 host2 host3 host4 > "$1" || true
}
night fleet.jsonl
# The next night each host reads only what changed; the lines are the same.
night again.jsonl
cmp -s fleet.jsonl again.jsonl || { echo "the second night's lines differ" >&2; exit 1; }
# Locally a job's host is in its command (the README's remote runs have it in column 2).
unreached=$(awk -F '\t' 'NR > 1 && $7 != 0 {print $9}' fleet.log | grep -o 'host [a-z0-9]*' |
            cut -d' ' -f2 | sort)
[ "$unreached" = "host4" ] || { echo "the job log names: $unreached" >&2; exit 1; }

below=$("$inventory" --version-key 1.10)
found=$(jq -r --arg below "$below" 'select(.product_name == "widget" and
                                           .product_version_key < $below) | .host' fleet.jsonl |
        sort -u | tr '\n' ' ')
[ "$found" = "host1 host3 " ] || { echo "jq found: $found" >&2; exit 1; }

sqlite3 fleet.db "CREATE TABLE lines (line TEXT)" ".mode ascii" ".separator \"\\037\" \"\\n\"" \
  ".import fleet.jsonl lines"
found=$(sqlite3 fleet.db "SELECT DISTINCT line ->> '\$.host' FROM lines
  WHERE line ->> '\$.product_name' = 'widget' AND line ->> '\$.product_version_key' < '$below'
  ORDER BY 1" | tr '\n' ' ')
[ "$found" = "host1 host3 " ] || { echo "sqlite3 found: $found" >&2; exit 1; }

parallel --will-cite -k '"$inventory" -q --format csv --host {} {}/opt/product' \
  ::: host1 host2 host3 | awk 'NR == 1 {header = $0} NR == 1 || $0 != header' > fleet.csv
[ "$(grep -c '^path,' fleet.csv)" -eq 1 ] && [ "$(wc -l < fleet.csv)" -eq 4 ] ||
  { echo "the fleet's CSV:"; cat fleet.csv; exit 1; } >&2
echo "fleet recipe: 3 hosts and one unreached; jq and sqlite3 find widget below 1.10 on $found"
