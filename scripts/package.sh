#!/usr/bin/env bash
# Builds the Debian package (CPack's DEB generator, prefix /usr) into
# build/package/. Standard output is only the path of each .deb, so that
# `sudo dpkg -i $(scripts/package.sh)` works; progress goes to standard error.
#   Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
exec 3>&1 1>&2

source scripts/lib/packages.sh
install_missing_packages

cmake --preset package
cmake --build --preset package -j "$(nproc)"
rm -f build/package/*.deb
cpack --preset package
ls "$PWD"/build/package/*.deb >&3
