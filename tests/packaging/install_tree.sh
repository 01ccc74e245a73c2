#!/usr/bin/env bash
# Fixture: installs the build tree into DEST/usr with cmake --install, as a user would.
# Usage: install_tree.sh BUILD_DIR DEST
set -euo pipefail
build=$1
dest=$2

rm -rf "$dest"
mkdir -p "$dest"
cmake --install "$build" --prefix "$dest/usr" >"$dest/install.log"
echo "installed into $dest/usr"
