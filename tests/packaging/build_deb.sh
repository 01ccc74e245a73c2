#!/usr/bin/env bash
# Fixture: builds the Debian package from the build tree with cpack into OUT.
# Usage: build_deb.sh BUILD_DIR OUT
set -euo pipefail
build=$1
out=$2

command -v dpkg-deb >/dev/null 2>&1 || { echo "SKIP - dpkg-deb is not installed"; exit 77; }
rm -rf "$out"
mkdir -p "$out"
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log"
    exit 1
fi
ls "$out"/*.deb
