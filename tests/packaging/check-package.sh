#!/usr/bin/env bash
# Checks a built Debian package: lintian without errors, the desktop entry
# and the AppStream metadata valid, and the unpacked programs run from where
# they were unpacked. Prints lintian's warnings. Usage: check-package.sh DEB
set -uo pipefail
deb=$1
failed=0 passed=0
check() { # NAME COMMAND...: one check, its output shown when it fails
    local name=$1; shift
    local output
    if output=$("$@" 2>&1); then
        passed=$((passed + 1)); echo "ok: $name"
    else
        failed=$((failed + 1)); echo "FAIL: $name"; printf '%s\n' "$output" | sed 's/^/    /'
    fi
}

echo "== lintian $(basename "$deb")"
lintian --fail-on error --display-level '>=warning' "$deb" | sed 's/^/    /'
check "lintian: no errors" lintian --fail-on error -q "$deb"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp/root"
check "desktop entry" desktop-file-validate "$tmp/root/usr/share/applications/vantrel.desktop"
check "AppStream metadata" appstreamcli validate --no-net "$tmp/root/usr/share/metainfo/org.vantrel.Vantrel.metainfo.xml"
for f in usr/bin/vantrel usr/bin/vantrel-cli usr/share/vantrel/Help/English.qhc usr/share/vantrel/Help/English.qch \
         usr/share/vantrel/ProgramFiles/vantrel.ini usr/share/man/man1/vantrel.1.gz usr/share/man/man1/vantrel-cli.1.gz \
         usr/share/bash-completion/completions/vantrel-cli usr/share/mime/packages/vantrel.xml \
         usr/share/icons/hicolor/scalable/apps/vantrel.svg usr/share/icons/hicolor/48x48/apps/vantrel.png \
         usr/share/doc/vantrel/copyright usr/share/doc/vantrel/changelog.gz; do
    check "holds /$f" test -s "$tmp/root/$f"
done
for page in vantrel vantrel-cli; do
    check "man page $page renders without warnings" \
        bash -c '[[ -z $(MANWIDTH=80 man --warnings -E UTF-8 -l "$1" 2>&1 >/dev/null) ]]' _ \
        "$tmp/root/usr/share/man/man1/$page.1.gz"
done
check "vantrel-cli --version" bash -c '"$1" --version | grep -q "^vantrel-cli (Vantrel) "' _ "$tmp/root/usr/bin/vantrel-cli"
check "vantrel --version" bash -c '"$1" --version | grep -q "^vantrel (Vantrel) "' _ "$tmp/root/usr/bin/vantrel"
check "vantrel-cli query" "$tmp/root/usr/bin/vantrel-cli" --system "$tmp/system" query 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion'
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
