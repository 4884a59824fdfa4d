#!/usr/bin/env bash
# release_gate_check.sh ZEBLIX_INVENTORY ZEBLIX: the README's release gate, run for real. A release
# folder whose binaries all carry a block of the release's version passes; one with a binary
# without a block, or of another version, fails and names it; the SBOM it writes is a CycloneDX
# document holding every binary with its digest.
# shellcheck source=recipe_check_setup.sh
. "$(dirname "$0")/recipe_check_setup.sh"

# The gate as the README shows it, with zeblix-inventory from the build.
gate() {
  local release=$1
  "$inventory" --empty --hash sha256 dist/bin > inventory.jsonl || return 1
  unversioned=$(jq -r 'select(.records == 0) | .path' inventory.jsonl)
  [ -z "$unversioned" ] || { echo "no version block: $unversioned"; return 1; }
  wrong=$(jq -r --arg v "$release" 'select(.product_version and .product_version != $v)
                                    | "\(.path): \(.product_version)"' inventory.jsonl)
  [ -z "$wrong" ] || { echo "not version $release: $wrong"; return 1; }
  "$inventory" --format cyclonedx --hash sha256 -o sbom.cdx.json dist/bin
}

release=$("$inventory" --version | cut -d' ' -f2)  # what the build's own blocks say
mkdir -p dist/bin
cp "$zeblix" dist/bin/zeblix
gate "$release" >gate.out || { echo "a good release failed the gate:"; cat gate.out; exit 1; } >&2
[ "$(jq '[.components[] | select(.hashes)] | length' sbom.cdx.json)" -eq 1 ]

printf '#!/bin/sh\n' > dist/bin/helper
! gate "$release" >gate.out && grep -q 'no version block: dist/bin/helper' gate.out
rm dist/bin/helper
! gate 0.0.1 >gate.out && grep -q "not version 0.0.1: dist/bin/zeblix: $release" gate.out
echo "release gate: passes a good release, stops an unversioned binary and a wrong version"
