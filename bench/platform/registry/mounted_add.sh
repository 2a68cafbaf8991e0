#!/bin/bash
# What a mounted hive costs a process that never touches it: the mean wall
# time of `vantrel-cli add` into HKCU on an empty system and on one with a
# real hive loaded under HKLM, in alternating rounds of RUNS calls each.
# Usage: mounted_add.sh BUILD_DIR [HIVE] [RUNS] [ROUNDS]
set -eu
build=${1:?build directory}
hive=${2:-"$(dirname "$0")/../../../../shared/testdata/hives/real/regipy/SYSTEM_WIN_10_1709"}
runs=${3:-50}
rounds=${4:-3}
cli="$build/cli/vantrel-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$hive" "$work/hive" && chmod u+w "$work/hive"
"$cli" --system "$work/empty" query 'HKCU\Environment' >/dev/null 2>&1 || true
"$cli" --system "$work/mounted" --as-system load 'HKLM\VtBench' "$work/hive" >/dev/null 2>&1

# Mean milliseconds of one add on system $1.
mean() {
    local start end
    start=$(date +%s%N)
    for i in $(seq "$runs"); do
        "$cli" --system "$1" add 'HKCU\Software\VtBench' /v "x$i" /d "$i" /f >/dev/null
    done
    end=$(date +%s%N)
    awk -v ns="$((end - start))" -v n="$runs" 'BEGIN { printf "%.2f", ns / n / 1e6 }'
}

sumEmpty=0 sumMounted=0
for r in $(seq "$rounds"); do
    e=$(mean "$work/empty")
    m=$(mean "$work/mounted")
    echo "round $r: empty $e ms, with the hive mounted $m ms"
    sumEmpty=$(awk -v a="$sumEmpty" -v b="$e" 'BEGIN { print a + b }')
    sumMounted=$(awk -v a="$sumMounted" -v b="$m" 'BEGIN { print a + b }')
done
awk -v e="$sumEmpty" -v m="$sumMounted" 'BEGIN { printf "ratio: %.2f (target at most 1.2)\n", m / e }'
