#!/usr/bin/env bash
# The manual page renders without a single warning, names all three programs and the
# current version, and the desktop entry template passes desktop-file-validate once filled in.
# Usage: lint_docs.sh SOURCE_DIR VERSION
set -uo pipefail
source_dir=$1
version=$2
. "$(dirname "$0")/lib.sh"

need mandoc groff desktop-file-validate
page=$source_dir/packaging/camsteer.1

check "mandoc -Tlint finds nothing in the manual page" mandoc -Tlint -W all "$page"
groff_warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
check "groff renders the manual page without warnings" test -z "$groff_warnings"
[ -n "$groff_warnings" ] && echo "$groff_warnings"
check "the manual page is for camsteer $version" \
    grep -q "^\.TH CAMSTEER 1 [^ ]* \"camsteer $version\"" "$page"
name_line=$(sed -n '/^\.SH NAME/{n;p;}' "$page")
for program in camsteer camsteer_d camsteer_replay; do
    check "the NAME section lists $program (for whatis and the links)" \
        grep -q "\(^\|, \)$program\(,\| \\\\-\)" <<<"$name_line"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed -e 's|@CAMSTEER_INSTALLED_BINDIR@|/usr/bin|' -e 's|@CAMSTEER_INSTALLED_DATADIR@|/usr/share|' \
    "$source_dir/packaging/camsteer.desktop.in" >"$work/camsteer.desktop"
check "no placeholder is left in the desktop entry" lacks @ "$work/camsteer.desktop"
check "desktop-file-validate accepts the desktop entry" desktop-file-validate "$work/camsteer.desktop"

finish
