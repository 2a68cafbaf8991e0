#!/bin/sh
# Walks a real hive with `vantrel-cli query /s` and with reglookup, and prints
# wall time and peak memory of each. Usage: query_vs_reglookup.sh BUILD_DIR [HIVE]
set -eu
build=${1:?build directory}
hive=${2:-"$(dirname "$0")/../../../shared/testdata/hives/real/regipy/SYSTEM"}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$hive" "$work/hive" && chmod u+w "$work/hive"
cli="$build/cli/vantrel-cli"
"$cli" --system "$work/system" --as-system load 'HKLM\VtBench' "$work/hive" >/dev/null
/usr/bin/time -f "vantrel-cli query /s: %e s, %M KB" \
    "$cli" --system "$work/system" --as-system query 'HKLM\VtBench' /s >"$work/query.txt"
/usr/bin/time -o "$work/time.txt" -f "reglookup:            %e s, %M KB" \
    reglookup "$work/hive" >"$work/reglookup.csv" 2>/dev/null
cat "$work/time.txt"
echo "keys: $(grep -c '^HKEY' "$work/query.txt") shown by query (a key without values only below the top), $(grep -c ',KEY,' "$work/reglookup.csv") by reglookup"
