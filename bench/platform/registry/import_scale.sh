#!/bin/sh
# Imports synthetic version 5 registry files of N keys (two values each,
# 1,000 keys per parent) into a fresh system with `vantrel-cli import`, one
# whole process each, and prints per N: CPU per key, the bytes the process
# wrote (journal and hives) over the final hive size, and its peak memory
# against twice the final hive plus the file. The empty system's own peak (a
# `query` in the same kind of process) is printed first, for the fixed base.
# Usage: import_scale.sh BUILD_DIR [N ...]   (default 10000 100000 1000000)
set -eu
build=${1:?build directory}
shift
[ $# -gt 0 ] || set -- 10000 100000 1000000
cli="$build/cli/vantrel-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cli" --system "$work/base" query 'HKCU\Environment' >/dev/null 2>&1 || true
/usr/bin/time -o "$work/time" -f '%M' "$cli" --system "$work/base" query 'HKCU\Environment' >/dev/null
echo "empty system, one query: peak $(awk '{printf "%.1f", $1 / 1024}' "$work/time") MiB"
printf '%9s %10s %9s %9s %13s %9s %16s\n' keys cpu_us/key file_MB hive_MB written/hive peak_MiB 2*hive+file_MiB

for n in "$@"; do
    awk -v n="$n" 'BEGIN {
        printf "\357\273\277Windows Registry Editor Version 5.00\r\n\r\n"
        for (i = 0; i < n; i++) {
            if (i % 1000 == 0)
                printf "[HKEY_CURRENT_USER\\Software\\Import\\p%d]\r\n\r\n", i / 1000
            printf "[HKEY_CURRENT_USER\\Software\\Import\\p%d\\k%d]\r\n", int(i / 1000), i
            printf "\"Path\"=\"C:\\\\Program Files\\\\Imported\\\\file.exe\"\r\n"
            printf "\"Count\"=dword:%08x\r\n\r\n", i
        }
    }' | iconv -f UTF-8 -t UTF-16LE >"$work/import.reg"
    sys="$work/sys$n"
    "$cli" --system "$sys" query 'HKCU\Environment' >/dev/null 2>&1 || true
    # The shell's own I/O counters take in the child it has waited for.
    sh -c '/usr/bin/time -o "$1" -f "%U %S %M" "$2" --system "$3" import "$4" >/dev/null &&
           awk "/^write_bytes/ { print \$2 }" /proc/$$/io >"$5"' \
        sh "$work/time" "$cli" "$sys" "$work/import.reg" "$work/io"
    hive=$(ls "$sys"/drive_c/Users/*/NTUSER.DAT)
    awk -v n="$n" -v file="$(stat -c %s "$work/import.reg")" -v hive="$(stat -c %s "$hive")" \
        -v written="$(cat "$work/io")" '{
        printf "%9d %10.1f %9.1f %9.1f %13.2f %9.1f %16.1f\n", n, ($1 + $2) * 1e6 / n, file / 1e6,
               hive / 1e6, written / hive, $3 / 1024, (2 * hive + file) / 1048576
    }' "$work/time"
    rm -rf "$sys" "$work/import.reg"
done
