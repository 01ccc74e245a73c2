#!/usr/bin/env bash
# Installs every Debian package that building, running and testing camsteer need.
# Idempotent and non-interactive; run as root, or as a user who may use sudo. Works on Debian 12
# (bookworm) and 13 (trixie).
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang clang-format
  # the fuzzer's runtime: one name for the release's default clang where apt offers it, else
  # the versioned one
  'libclang-rt-dev|libclang-rt-14-dev'
  # libraries
  libopencv-dev libgtest-dev libgmock-dev libbenchmark-dev libevdev-dev libxtst-dev libx11-dev
  libxcb1-dev
  zlib1g-dev libjpeg-dev
  # Wayland key output: client library, keymaps, protocol code generator, KDE's protocol files
  libwayland-dev libxkbcommon-dev libwayland-bin plasma-wayland-protocols
  # the desktop's remote-desktop portal, over sd-bus
  libsystemd-dev
  # running under a virtual display, fonts for the window toolkit
  xvfb xauth x11-utils xdotool fonts-dejavu-core
  # real applications receiving the keys in the end-to-end tests: terminals under Xvfb and in
  # headless Wayland compositors (wlroots and KDE's) with Xwayland
  xterm foot sway xwayland kwin-wayland dbus-daemon
  # compositors without the Wayland key protocols (weston; GNOME's mutter, with the real portal
  # frontend in front of it), and the suite's own remote-desktop portals
  weston mutter xdg-desktop-portal python3-dbus python3-gi
  # tests and packaging
  imagemagick dpkg-dev file lintian procps desktop-file-utils mandoc groff-base
)

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
updated=no
update() {
    [ "$updated" = yes ] || "${as_root[@]}" apt-get update -q >&2
    updated=yes
}
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
offered() { apt-cache policy "$1" 2>/dev/null | grep -q 'Candidate: [^(]'; }

missing=()
for entry in "${packages[@]}"; do
    IFS='|' read -r -a names <<<"$entry"
    have=no
    for name in "${names[@]}"; do
        installed "$name" && have=yes
    done
    [ "$have" = yes ] && continue
    # The first name apt offers (with fresh lists if it offers none); the first name else, so
    # that apt says what is missing.
    pick=
    for attempt in 1 2; do
        for name in "${names[@]}"; do
            if offered "$name"; then
                pick=$name
                break 2
            fi
        done
        [ "${#names[@]}" -gt 1 ] && [ "$updated" = no ] || break
        update
    done
    missing+=("${pick:-${names[0]}}")
done
if [ "${#missing[@]}" -eq 0 ]; then
    exit 0
fi
update
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
