#!/bin/sh
# Seeds the hive fuzzer with the small test hives (large ones slow it down).
# Usage: make_corpus.sh <corpus-dir> [testdata-dir]
set -eu
out=${1:?corpus directory}
data=${2:-$(dirname "$0")/../../../shared/testdata}
mkdir -p "$out"
find "$data/hives" -type f ! -name '*.LOG*' -size -600k | while read -r f; do
    cp "$f" "$out/$(echo "$f" | sed 's|.*/hives/||; s|/|_|g')"
done
echo "seeded $(ls "$out" | wc -l) files into $out"
