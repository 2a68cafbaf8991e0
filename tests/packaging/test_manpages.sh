#!/usr/bin/env bash
# The manual pages made from the programs' help texts render without a
# warning and hold every operation of vantrel-cli with its own "/?" text.
# Usage: test_manpages.sh MAN-DIR CLI-BINARY
set -uo pipefail
dir=$1 cli=$2
failed=0
for page in "$dir/vantrel.1" "$dir/vantrel-cli.1"; do
    warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    if [[ -n $warnings ]]; then
        echo "FAIL: $page: $warnings"
        failed=1
    fi
done
text=$(MANWIDTH=200 man -E UTF-8 -l "$dir/vantrel-cli.1" 2>/dev/null)
for verb in $("$cli" --help | sed -n '/^Operations:/,/^$/{s/^  \([A-Z]*\)$/\1/p}'); do
    first=$("$cli" "$verb" /? | head -n 1)
    grep -qF -- "$first" <<<"$text" || { echo "FAIL: the page lacks $verb's usage: $first"; failed=1; }
done
for section in SYNOPSIS DESCRIPTION OPERATIONS OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
    grep -q "^$section" <<<"$text" || { echo "FAIL: no section $section"; failed=1; }
done
[[ $failed -eq 0 ]] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $failed
