# Helpers shared by the packaging tests. Sourced, not run.

# ctest reports this status as "skipped" (SKIP_RETURN_CODE in CMakeLists.txt).
readonly SKIP=77

failures=0

# check DESCRIPTION COMMAND...: runs COMMAND, records a failure if it fails.
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok   - $what"
    else
        echo "FAIL - $what"
        failures=$((failures + 1))
    fi
}

fail() {
    echo "FAIL - $*"
    failures=$((failures + 1))
}

skip() {
    echo "SKIP - $*"
    exit "$SKIP"
}

need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (scripts/install-deps.sh installs it)"
    done
}

# lacks PATTERN FILE: FILE has no line matching PATTERN (grep, any case).
lacks() {
    ! grep -qi "$1" "$2"
}

finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "all checks passed"
}

# The files every installation holds, relative to the prefix. Symbolic links end in " -> TARGET".
expected_files() {
    cat <<'LIST'
bin/camsteer
bin/camsteer_d
bin/camsteer_replay
lib/camsteer/camsteer_programs.so
lib/udev/rules.d/60-camsteer-uinput.rules
share/applications/camsteer.desktop
share/camsteer/images/arrow_back.bmp
share/camsteer/images/arrow_default.bmp
share/camsteer/images/arrow_down.bmp
share/camsteer/images/arrow_downleft.bmp
share/camsteer/images/arrow_downright.bmp
share/camsteer/images/arrow_forward.bmp
share/camsteer/images/arrow_left.bmp
share/camsteer/images/arrow_right.bmp
share/camsteer/images/arrow_up.bmp
share/camsteer/images/arrow_upleft.bmp
share/camsteer/images/arrow_upright.bmp
share/camsteer/images/sample_blue.png
share/camsteer/images/sample_red.png
share/doc/camsteer/changelog.gz
share/doc/camsteer/copyright
share/icons/hicolor/scalable/apps/camsteer.svg
share/lintian/overrides/camsteer
share/man/man1/camsteer.1.gz
share/man/man1/camsteer_d.1.gz -> camsteer.1.gz
share/man/man1/camsteer_replay.1.gz -> camsteer.1.gz
LIST
}

# tree_files ROOT: the files and links under ROOT, in the format of expected_files.
tree_files() {
    (cd "$1" && { find . -type f -printf '%P\n'; find . -type l -printf '%P -> %l\n'; } | LC_ALL=C sort)
}

# desktop_exec FILE: the Exec line of a desktop entry, without "Exec=".
desktop_exec() {
    sed -n 's/^Exec=//p' "$1"
}
