#!/bin/sh
# `vantrel-cli delete KEY /va /f` on a key of N values, one whole process
# each: CPU per value (flat when deleting is linear), and the longest wait of
# another process's `add` (of another key) started every 50 ms meanwhile
# (bounded by one slice of the delete, not by the whole key).
# Usage: delete_all_values.sh BUILD_DIR [N ...]   (default 12500 50000 100000)
set -eu
build=${1:?build directory}
shift
[ $# -gt 0 ] || set -- 12500 50000 100000
cli="$build/cli/vantrel-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%9s %12s %9s %16s\n' values cpu_us/value wall_s longest_add_ms
for n in "$@"; do
    sys="$work/sys$n"
    awk -v n="$n" 'BEGIN {
        printf "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Many]\r\n"
        for (i = 0; i < n; i++)
            printf "\"v%d\"=dword:%08x\r\n", i, i
    }' >"$work/many.reg"
    "$cli" --system "$sys" import "$work/many.reg" >/dev/null 2>&1
    "$cli" --system "$sys" add 'HKCU\Software\Other' /v x /d 0 /f >/dev/null
    /usr/bin/time -o "$work/time" -f '%U %S %e' "$cli" --system "$sys" delete 'HKCU\Software\Many' /va /f \
        >/dev/null &
    pid=$!
    : >"$work/adds"
    while kill -0 "$pid" 2>/dev/null; do
        start=$(date +%s%N)
        "$cli" --system "$sys" add 'HKCU\Software\Other' /v x /d 1 /f >/dev/null
        echo $((($(date +%s%N) - start) / 1000000)) >>"$work/adds"
        sleep 0.05
    done
    wait "$pid"
    longest=$(sort -n "$work/adds" | tail -1)
    awk -v n="$n" -v longest="${longest:-0}" '{
        printf "%9d %12.2f %9.2f %16d\n", n, ($1 + $2) * 1e6 / n, $3, longest
    }' "$work/time"
    rm -rf "$sys"
done
