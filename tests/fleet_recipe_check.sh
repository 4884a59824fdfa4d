#!/usr/bin/env bash
# fleet_recipe_check.sh ZEBLIX_INVENTORY ZEBLIX: the "across many machines" recipe, run for real on
# this machine. GNU parallel runs two jobs standing in for two hosts (each with --host and its own
# product tree), the merged lines are loaded into an SQLite database with the sqlite3 shell's JSON
# functions, and the query for hosts with an old product finds exactly the host that has one.
# shellcheck source=recipe_check_setup.sh
. "$(dirname "$0")/recipe_check_setup.sh"

# Two "hosts" with the same product; host2's copy has its version block saying 6.2.0.
mkdir -p host1/opt/product host2/opt/product
cp "$zeblix" host1/opt/product/zeblix
perl -0777 -pe 's/\x006\.3\.0\x00/\x006.2.0\x00/' "$zeblix" > host2/opt/product/zeblix
printf 'not a product\n' > host2/opt/product/README

export inventory
parallel --will-cite -j 2 '"$inventory" -q --host {} {}/opt/product' ::: host1 host2 > fleet.jsonl
[ "$(wc -l < fleet.jsonl)" -eq 2 ] || { echo "expected two lines:"; cat fleet.jsonl; exit 1; } >&2

jq -s . fleet.jsonl > fleet.json
sqlite3 fleet.db "CREATE TABLE lines AS SELECT value AS line
  FROM json_each(CAST(readfile('fleet.json') AS TEXT))"
# Hosts with product zeblix below version 6.3: only host2.
hosts=$(sqlite3 fleet.db "SELECT DISTINCT line ->> '\$.host' FROM lines
  WHERE line ->> '\$.product_name' = 'zeblix' AND line ->> '\$.product_version' < '6.3'")
[ "$hosts" = host2 ] || { echo "the query found: $hosts" >&2; exit 1; }
[ "$(jq -r 'select(.product_name == "zeblix" and .product_version < "6.3") | .host' fleet.jsonl)" = host2 ]
echo "fleet recipe: parallel collected $(wc -l < fleet.jsonl) lines; sqlite3 and jq find $hosts"
