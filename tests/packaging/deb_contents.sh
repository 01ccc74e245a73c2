#!/usr/bin/env bash
# The Debian package: its name, control fields and library dependencies, the files it holds,
# stripped binaries that still run, the desktop entry for /usr, and a changelog that names
# the package's version.
# Usage: deb_contents.sh SOURCE_DIR DEB_DIR VERSION
set -uo pipefail
source_dir=$1
deb_dir=$2
version=$3
. "$(dirname "$0")/lib.sh"

need dpkg-deb dpkg file
deb=$deb_dir/camsteer_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "no package $deb; found:"; ls "$deb_dir"; exit 1; }
echo "ok   - cpack made $(basename "$deb")"

field() { dpkg-deb --field "$deb" "$1"; }
is_stripped() { file -b "$1" | grep -q ", stripped"; }
check "Package is camsteer" test "$(field Package)" = camsteer
check "Version is $version" test "$(field Version)" = "$version"
check "Architecture is the machine's" test "$(field Architecture)" = "$(dpkg --print-architecture)"
depends=$(field Depends)
echo "     Depends: $depends"
for library in libopencv-core libopencv-highgui libopencv-imgproc libopencv-imgcodecs \
    libopencv-videoio libevdev libxtst libx11 libsystemd0; do
    check "Depends names $library" grep -qE "(^|, )${library}[-0-9]*( |,|$)" <<<"$depends"
done
check "the Description has a synopsis and a long text" \
    test "$(field Description | sed -n '2,$p' | grep -c .)" -ge 3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"

if ! diff -u <(expected_files | LC_ALL=C sort) <(tree_files "$work/root/usr"); then
    fail "the package's files differ from the expected list (- expected, + packaged)"
else
    echo "ok   - the package holds every expected file under /usr, and nothing else"
fi
check "nothing outside /usr" test "$(ls -A "$work/root")" = usr

for program in camsteer camsteer_d camsteer_replay; do
    binary=$work/root/usr/bin/$program
    check "$program is stripped" is_stripped "$binary"
    # Without arguments every program stops at once with its usage message: proof that the
    # stripped binary loads and runs.
    output=$("$binary" 2>/dev/null)
    status=$?
    check "packaged $program runs (status $status, '$output')" \
        test "$status" -eq 1 -a "$output" = "No histogram source image specified."
done

check "the udev rule is packaged unchanged" \
    cmp "$source_dir/packaging/60-camsteer-uinput.rules" "$work/root/usr/lib/udev/rules.d/60-camsteer-uinput.rules"
check "the desktop entry starts /usr/bin/camsteer learning from the camera" \
    test "$(desktop_exec "$work/root/usr/share/applications/camsteer.desktop")" = \
    "/usr/bin/camsteer --show-failures --learn"

for script in postinst postrm; do
    check "the $script script is packaged and executable" test -x "$work/control/$script"
done

changelog_version=$(gzip -dc "$work/root/usr/share/doc/camsteer/changelog.gz" |
    sed -n '1s/^camsteer (\([^)]*\)).*/\1/p')
check "the changelog's latest entry is for $version (it is for '$changelog_version')" \
    test "$changelog_version" = "$version"

finish
