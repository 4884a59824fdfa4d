# Sourced by the README recipe checks (SCRIPT ZEBLIX_INVENTORY ZEBLIX): strict mode, the two
# programs by absolute path, and a scratch folder, removed on exit, as the working directory.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 ZEBLIX_INVENTORY ZEBLIX" >&2; exit 2; }
inventory=$(realpath "$1") zeblix=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
