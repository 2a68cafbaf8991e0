#!/bin/bash
# Imports the export of a real hive (by default the reference SYSTEM hive,
# 43,211 keys) into a fresh system with `vantrel-cli import`, a whole process
# each time, against `hivexregedit --merge` of the same content into a fresh
# user hive, taking turns in one run. Prints for each the median of RUNS wall
# times and CPU times, and the ratio of the medians (target at most 0.02).
# Usage: import_vs_hivex.sh BUILD_DIR [HIVE] [RUNS]
set -eu
build=${1:?build directory}
hive=${2:-"$(dirname "$0")/../../../../shared/testdata/hives/real/regipy/SYSTEM_WIN_10_1709"}
runs=${3:-3}
cli="$build/cli/vantrel-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$hive" "$work/hive" && chmod u+w "$work/hive"
"$cli" --system "$work/src" --as-system load 'HKLM\VtBench' "$work/hive" >/dev/null 2>&1
"$cli" --system "$work/src" --as-system export 'HKLM\VtBench' "$work/export.reg" /y >/dev/null
# The same keys below HKCU\Software\VtBench: UTF-16 for the tool, UTF-8 for hivex.
iconv -f UTF-16LE -t UTF-8 "$work/export.reg" |
    sed 's/^\(\[-\{0,1\}\)HKEY_LOCAL_MACHINE\\VtBench/\1HKEY_CURRENT_USER\\Software\\VtBench/' >"$work/utf8.reg"
iconv -f UTF-8 -t UTF-16LE "$work/utf8.reg" >"$work/utf16.reg"
"$cli" --system "$work/empty" query 'HKCU\Environment' >/dev/null 2>&1 || true
keys=$(grep -c '^\[' "$work/utf8.reg")

# "wall_ms cpu_ms" of one run of "$@".
timed() {
    local start end
    start=$(date +%s%N)
    /usr/bin/time -o "$work/t" -f '%U %S' "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
    end=$(date +%s%N)
    awk -v w=$(((end - start) / 1000000)) '{ printf "%d %d\n", w, ($1 + $2) * 1000 }' "$work/t"
}
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

: >"$work/ours" && : >"$work/theirs"
for _ in $(seq "$runs"); do
    rm -rf "$work/sys" && cp -a "$work/empty" "$work/sys"
    timed "$cli" --system "$work/sys" import "$work/utf16.reg" >>"$work/ours"
    cp "$(ls "$work"/empty/drive_c/Users/*/NTUSER.DAT)" "$work/peer.hiv"
    timed hivexregedit --merge --prefix 'HKEY_CURRENT_USER' "$work/peer.hiv" "$work/utf8.reg" >>"$work/theirs"
done
oursWall=$(cut -d' ' -f1 "$work/ours" | median)
oursCpu=$(cut -d' ' -f2 "$work/ours" | median)
theirsWall=$(cut -d' ' -f1 "$work/theirs" | median)
theirsCpu=$(cut -d' ' -f2 "$work/theirs" | median)
echo "import of $keys keys, medians of $runs runs each, taking turns"
echo "vantrel-cli import:      $oursWall ms wall, $oursCpu ms CPU ($(awk -v c="$oursCpu" -v k="$keys" 'BEGIN { printf "%.1f", c * 1000 / k }') us CPU per key)"
echo "hivexregedit --merge:    $theirsWall ms wall, $theirsCpu ms CPU"
awk -v a="$oursWall" -v b="$theirsWall" -v c="$oursCpu" -v d="$theirsCpu" \
    'BEGIN { printf "ratio: %.3f wall, %.3f CPU (target at most 0.02)\n", a / b, c / d }'
