#!/usr/bin/env bash
# The tree that cmake --install leaves: every file where it belongs and nothing else, the
# udev rule and pictures unchanged, the manual page links resolving, and a desktop entry that
# starts the installed program on the installed sample picture.
# Usage: installed_files.sh SOURCE_DIR INSTALL_DEST
set -uo pipefail
source_dir=$1
prefix=$2/usr
. "$(dirname "$0")/lib.sh"

[ -d "$prefix" ] || { echo "no installed tree at $prefix"; exit 1; }

list=$(mktemp)
trap 'rm -f "$list"' EXIT
tree_files "$prefix" >"$list"
if ! diff -u <(expected_files | LC_ALL=C sort) "$list"; then
    fail "installed files differ from the expected list (- expected, + installed)"
else
    echo "ok   - every expected file is installed, and nothing else"
fi

for program in camsteer camsteer_d camsteer_replay; do
    check "$program is executable" test -x "$prefix/bin/$program"
done

check "the udev rule is installed unchanged" \
    cmp "$source_dir/packaging/60-camsteer-uinput.rules" "$prefix/lib/udev/rules.d/60-camsteer-uinput.rules"
for picture in "$source_dir"/images/arrow_*.bmp "$source_dir"/images/sample_*.png; do
    check "$(basename "$picture") is installed unchanged" \
        cmp "$picture" "$prefix/share/camsteer/images/$(basename "$picture")"
done

man1=$prefix/share/man/man1
check "camsteer.1.gz holds the manual page" cmp <(gzip -dc "$man1/camsteer.1.gz") "$source_dir/packaging/camsteer.1"
for page in camsteer_d.1.gz camsteer_replay.1.gz; do
    check "$page leads to the camsteer manual page" cmp "$man1/$page" "$man1/camsteer.1.gz"
done

desktop=$prefix/share/applications/camsteer.desktop
read -r -a exec_words <<<"$(desktop_exec "$desktop")"
check "the desktop entry starts the installed camsteer" \
    test "${exec_words[0]:-}" = "$prefix/bin/camsteer"
check "the desktop entry shows failures and learns into the default picture" \
    test "${exec_words[*]:1}" = "--show-failures --learn"
check "the desktop entry names the installed icon" \
    test -f "$prefix/share/icons/hicolor/scalable/apps/$(sed -n 's/^Icon=//p' "$desktop").svg"
check "the desktop entry does not ask for a terminal" grep -qx 'Terminal=false' "$desktop"

finish
