#!/usr/bin/env bash
# lintian finds no error and no warning in the Debian package. (Informational tags are shown
# but accepted.)
# Usage: deb_lintian.sh DEB_DIR VERSION
set -uo pipefail
deb_dir=$1
version=$2
. "$(dirname "$0")/lib.sh"

need lintian dpkg
deb=$deb_dir/camsteer_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "no package $deb"; exit 1; }

# lintian warns on stderr when run as root, as CI does; that note is not about the package.
lintian --display-info --tag-display-limit 0 --fail-on error,warning "$deb" 2>"${deb_dir}/lintian.err"
status=$?
grep -v 'running with root privileges' "${deb_dir}/lintian.err"
check "lintian reports no error or warning (status $status)" test "$status" -eq 0
finish
