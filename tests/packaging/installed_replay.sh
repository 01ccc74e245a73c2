#!/usr/bin/env bash
# The installed camsteer_replay works on its own: started from a folder without images/, on
# the installed sample picture, it finds the installed arrow pictures, draws them in its
# "Output" window, and ends cleanly with status 143 on SIGTERM.
# Usage: installed_replay.sh INSTALL_DEST CLIP
set -uo pipefail
prefix=$1/usr
clip=$2
. "$(dirname "$0")/lib.sh"

need Xvfb import compare
[ -x "$prefix/bin/camsteer_replay" ] || { echo "no installed camsteer_replay under $prefix"; exit 1; }
[ -r "$clip" ] || { echo "no clip $clip"; exit 1; }

work=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill -KILL "$app_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill -TERM "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A display of our own; Xvfb writes its number to fd 3 once it accepts clients.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY XDG_SESSION_TYPE QT_QPA_PLATFORM

# An unrelated working folder: no images/ to fall back on.
mkdir "$work/elsewhere"
(cd "$work/elsewhere" &&
    exec "$prefix/bin/camsteer_replay" "$prefix/share/camsteer/images/sample_blue.png" "$clip" \
        >"$work/stdout" 2>"$work/stderr") &
app_pid=$!

# The program places "Output" at (385, 50). Before the first frame it shows the bare default
# arrow picture; once frames are tracked it shows the current arrow with a green marker (a
# filled circle of about 29 pixels), the coverage bar and ticks drawn over it. Wait until the
# area matches an installed arrow (fuzz absorbs colour rounding, the overlays stay under the
# limit) and carries the marker, which proves frames from the clip went through tracking.
area=200x200+385+50
limit=4000       # pixels of 40000 that may differ from the closest arrow picture
marker_least=20  # pure green pixels of the marker
closest=
closest_diff=
marker=0
# pixels_differing IMAGE OTHER...: the number of pixels of IMAGE that differ from OTHER.
pixels_differing() {
    local count
    count=$(compare -metric AE -fuzz 10% "$@" null: 2>&1)
    [[ "$count" =~ ^[0-9]+$ ]] || { echo "compare failed: $count" >&2; exit 1; }
    echo "$count"
}
for _ in $(seq 60); do
    kill -0 "$app_pid" 2>/dev/null || break
    if import -display "$DISPLAY" -window root "$work/screen.png" 2>/dev/null; then
        shown="$work/screen.png[$area]"
        closest_diff=
        for arrow in "$prefix"/share/camsteer/images/arrow_*.bmp; do
            diff_pixels=$(pixels_differing "$shown" "$arrow") || exit 1
            if [ -z "$closest_diff" ] || [ "$diff_pixels" -lt "$closest_diff" ]; then
                closest_diff=$diff_pixels
                closest=$(basename "$arrow")
            fi
        done
        not_green=$(pixels_differing "$shown" -size 200x200 xc:lime) || exit 1
        marker=$((40000 - not_green))
        [ "$closest_diff" -le "$limit" ] && [ "$marker" -ge "$marker_least" ] && break
    fi
    sleep 0.5
done

if kill -0 "$app_pid" 2>/dev/null; then
    echo "ok   - camsteer_replay is running"
else
    wait "$app_pid"
    fail "camsteer_replay ended early with status $?"
    app_pid=
fi
if [ -n "$closest_diff" ] && [ "$closest_diff" -le "$limit" ]; then
    echo "ok   - the Output window shows an installed arrow picture ($closest, $closest_diff pixels differ)"
else
    fail "the Output window shows no installed arrow picture (closest: ${closest:-none}, ${closest_diff:-?} pixels differ)"
fi
if [ "$marker" -ge "$marker_least" ]; then
    echo "ok   - the Output window shows the target marker ($marker pixels): the clip is tracked"
else
    fail "the Output window shows no target marker ($marker green pixels): no frame was tracked"
fi
if [ "$failures" -ne 0 ]; then
    [ -f "$work/screen.png" ] && cp "$work/screen.png" "${TMPDIR:-/tmp}/camsteer-installed-replay-screen.png" &&
        echo "screen kept in ${TMPDIR:-/tmp}/camsteer-installed-replay-screen.png"
fi

if [ -n "$app_pid" ]; then
    kill -TERM "$app_pid"
    wait "$app_pid"
    status=$?
    app_pid=
    check "SIGTERM ends camsteer_replay with status 143 (got $status)" test "$status" -eq 143
fi

check "nothing on standard output" test ! -s "$work/stdout"
check "no complaint about the pictures on standard error" \
    lacks 'picture\|images' "$work/stderr"
if [ -s "$work/stderr" ]; then
    echo "standard error:"
    sed 's/^/  /' "$work/stderr"
fi

finish
