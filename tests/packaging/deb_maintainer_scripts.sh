#!/usr/bin/env bash
# The package's postinst and postrm: they make udev reload its rules and re-apply them to
# /dev/uinput when the package is configured or removed, leave udev alone on upgrades, and
# never fail because udevadm is missing or fails (containers, chroots, udev not running).
# Usage: deb_maintainer_scripts.sh DEB_DIR VERSION
set -uo pipefail
deb_dir=$1
version=$2
. "$(dirname "$0")/lib.sh"

need dpkg-deb dpkg
deb=$deb_dir/camsteer_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "no package $deb"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -e "$deb" "$work/control"
mkdir "$work/logging" "$work/failing" "$work/none"
cat >"$work/logging/udevadm" <<LOG
#!/bin/sh
echo "\$*" >>"$work/calls"
LOG
printf '#!/bin/sh\necho "udevadm: no udev here" >&2\nexit 1\n' >"$work/failing/udevadm"
chmod +x "$work/logging/udevadm" "$work/failing/udevadm"

expected_calls="control --reload-rules
trigger --subsystem-match=misc --sysname-match=uinput"

# run SCRIPT ARG BIN_DIR: runs a maintainer script as dpkg would, with only BIN_DIR on PATH.
run() {
    rm -f "$work/calls"
    PATH=$2 /bin/sh "$work/control/$1" "$3" >"$work/output" 2>&1
}

for action in "postinst configure" "postrm remove" "postrm purge"; do
    read -r script arg <<<"$action"
    run "$script" "$work/logging" "$arg"
    status=$?
    check "$action succeeds (status $status)" test "$status" -eq 0
    check "$action reloads the udev rules and re-applies them to uinput" \
        test "$(cat "$work/calls" 2>/dev/null)" = "$expected_calls"

    run "$script" "$work/failing" "$arg"
    status=$?
    check "$action succeeds when udevadm fails (status $status)" test "$status" -eq 0
    check "$action stays quiet when udevadm fails" test ! -s "$work/output"

    run "$script" "$work/none" "$arg"
    status=$?
    check "$action succeeds without udevadm (status $status)" test "$status" -eq 0
done

for action in "postrm upgrade" "postinst abort-upgrade"; do
    read -r script arg <<<"$action"
    run "$script" "$work/logging" "$arg"
    status=$?
    check "$action succeeds (status $status)" test "$status" -eq 0
    check "$action leaves udev alone" test ! -e "$work/calls"
done

finish
