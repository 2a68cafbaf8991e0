#!/bin/sh
# A case-insensitive search of key names, value names and data for one word
# in a real hive: the whole `vantrel-cli query /f WORD /s` process against
# `reglookup HIVE | grep -i WORD`, each run RUNS times in turn, best and
# median wall times printed with their ratio.
# Usage: find_vs_reglookup.sh BUILD_DIR [HIVE] [WORD] [RUNS]
set -eu
build=${1:?build directory}
hive=${2:-"$(dirname "$0")/../../../shared/testdata/hives/real/regipy/SYSTEM_WIN_10_1709"}
word=${3:-usbstor}
runs=${4:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$hive" "$work/hive" && chmod u+w "$work/hive"
cli="$build/cli/vantrel-cli"
"$cli" --system "$work/system" --as-system load 'HKLM\VtBench' "$work/hive" >/dev/null 2>&1
now() { date +%s.%N; }
i=0
: >"$work/cli.t"
: >"$work/peer.t"
while [ "$i" -lt "$runs" ]; do
    t0=$(now)
    "$cli" --system "$work/system" --as-system query 'HKLM\VtBench' /f "$word" /s >"$work/cli.out"
    t1=$(now)
    reglookup "$work/hive" 2>/dev/null | grep -i "$word" >"$work/peer.out" || true
    t2=$(now)
    echo "$t1 - $t0" | bc >>"$work/cli.t"
    echo "$t2 - $t1" | bc >>"$work/peer.t"
    i=$((i + 1))
done
stats() { sort -n "$1" | awk '{a[NR]=$1} END {printf "best %.3f s, median %.3f s", a[1], a[int((NR+1)/2)]}'; }
median() { sort -n "$1" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "vantrel-cli query /f $word /s:   $(stats "$work/cli.t")  ($(tail -1 "$work/cli.out"))"
echo "reglookup | grep -i $word:  $(stats "$work/peer.t")  ($(wc -l <"$work/peer.out") lines)"
echo "median ratio: $(echo "scale=3; $(median "$work/cli.t") / $(median "$work/peer.t")" | bc)"
