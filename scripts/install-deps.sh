#!/usr/bin/env bash
# Installs every Debian package that building, running and testing camsteer need.
# Idempotent and non-interactive; run as root (or through sudo).
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev
  # libraries
  libopencv-dev libgtest-dev libgmock-dev libbenchmark-dev libevdev-dev libxtst-dev libx11-dev
  libxcb1-dev
  zlib1g-dev
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

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q >&2
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
