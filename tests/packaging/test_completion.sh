#!/usr/bin/env bash
# Drives the bash completion of vantrel-cli as the shell does: the function
# `complete -p` names, called with the words of a command line.
# Usage: test_completion.sh COMPLETION-FILE CLI-BINARY
set -uo pipefail
completion=$1 cli=$2
source /usr/share/bash-completion/bash_completion || { echo "bash-completion is not installed"; exit 1; }
source "$completion"
PATH=$(dirname "$cli"):$PATH
export VANTREL_SYSTEM=$(mktemp -d)/system
trap 'rm -rf "$(dirname "$VANTREL_SYSTEM")"' EXIT
vantrel-cli add 'HKCU\Software\VtComplete\Alpha Beta' /f >/dev/null 2>&1
vantrel-cli add 'HKCU\Software\VtComplete\Also' /v x /d 1 /f >/dev/null 2>&1
vantrel-cli add 'HKCU\Software\VtComplete\Other' /f >/dev/null 2>&1

failed=0 passed=0
function_name=$(complete -p vantrel-cli | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
[[ -n $function_name ]] || { echo "FAIL: complete -p vantrel-cli names no function"; exit 1; }

# expect LINE WORDS... -- CANDIDATES...: the words are as the shell splits
# the line, quotes and backslashes kept.
expect()
{
    local line=$1; shift
    local words=()
    while [[ $1 != -- ]]; do words+=("$1"); shift; done
    shift
    COMP_LINE=$line COMP_POINT=${#line}
    COMP_WORDS=("${words[@]}") COMP_CWORD=$((${#words[@]} - 1))
    COMPREPLY=()
    "$function_name" vantrel-cli "${words[-1]}" "${words[-2]}"
    local got expected
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort)
    expected=$(printf '%s\n' "$@" | sort)
    if [[ $got == "$expected" ]]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAIL: %s\n  expected: %s\n  got:      %s\n' "$line" "$(echo $expected)" "$(echo $got)"
    fi
}

expect 'vantrel-cli qu' vantrel-cli qu -- query
expect 'vantrel-cli ' vantrel-cli '' -- query add delete copy load unload save restore summary export import compare \
    $(vantrel-cli --help | sed -n '/^Operations:/,/^$/{s/^  \([A-Z]*\)$/\1/p}' | tr 'A-Z' 'a-z' |
      grep -vxE 'query|add|delete|copy|load|unload|save|restore|summary|export|import|compare')
expect 'vantrel-cli --sy' vantrel-cli --sy -- --system
expect 'vantrel-cli query /v' vantrel-cli query /v -- /v /ve
expect 'vantrel-cli export /' vantrel-cli export / -- $(vantrel-cli export /? | grep -o '^  */[A-Za-z0-9:]*' | tr -d ' ' | sort -u)
expect 'vantrel-cli query HKC' vantrel-cli query HKC -- 'HKCU\\' 'HKCR\\' 'HKCC\\'
# Unquoted: the shell's escapes in, escaped candidates out.
expect 'vantrel-cli query HKCU\\Software\\VtComplete\\Al' vantrel-cli query 'HKCU\\Software\\VtComplete\\Al' -- \
    'HKCU\\Software\\VtComplete\\Alpha\ Beta\\' 'HKCU\\Software\\VtComplete\\Also\\'
# Inside single quotes: candidates as they are, case-insensitive.
expect "vantrel-cli query 'hkcu\\software\\vtcomplete\\o" vantrel-cli query "'hkcu\\software\\vtcomplete\\o" -- \
    'hkcu\software\vtcomplete\Other\'
# A --system given on the line is the registry completed from; completing
# never makes a system where there is none.
absent=$(dirname "$VANTREL_SYSTEM")/absent
expect "vantrel-cli --system $absent query 'HKCU\\Software\\VtComplete\\" \
    vantrel-cli --system "$absent" query "'HKCU\\Software\\VtComplete\\" --
if [[ -e $absent ]]; then
    failed=$((failed + 1)); echo "FAIL: completing made a system at $absent"
else
    passed=$((passed + 1))
fi
expect "vantrel-cli --system $VANTREL_SYSTEM query 'HKCU\\Software\\VtComplete\\Ot" \
    vantrel-cli --system "$VANTREL_SYSTEM" query "'HKCU\\Software\\VtComplete\\Ot" -- 'HKCU\Software\VtComplete\Other\'

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
