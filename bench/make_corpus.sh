#!/usr/bin/env bash
# make_corpus.sh BUILD_DIR CORPUS_DIR: writes the benchmark corpus outside the source tree.
#   big/none.bin, big/block.bin  1 GiB each, random bytes from a fixed seed (one block in the second)
#   small/                       20,000 files of 1 to 16 KiB
#   libs/                        the system's shared libraries, copied
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR CORPUS_DIR" >&2; exit 2; }
build=$1 corpus=$2
mkdir -p "$corpus/libs"
"$build/bench/zeblix_make_corpus" "$corpus"
libdir=/usr/lib/$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)
find "$libdir" -maxdepth 1 -name '*.so*' -type f -exec cp -t "$corpus/libs" {} +
echo "corpus in $corpus: $(du -sh "$corpus" | cut -f1)"
