#!/usr/bin/env bash
# The Debian package on this machine: builds it (scripts/package.sh), checks
# it with lintian (no errors), installs it with dpkg -i, runs the programs
# from /usr/bin (a simulator screenshot through quarvel-cli), removes it with
# dpkg -r and checks that nothing it installed is left behind.
#
# It changes the system, so it is not part of ctest: run it as root on a
# machine without Quarvel installed (CI runs it after the suite, .ci/run).
#   Usage: sudo scripts/package_test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source tests/packaging/lib.sh

[ "$(id -u)" -eq 0 ] || fail "the package test installs a package: run it as root"
# True while dpkg knows quarvel as installed, half-installed or with config files.
quarvel_known() {
    dpkg-query -W -f='${db:Status-Status}' quarvel 2>/dev/null | grep -qv '^not-installed$'
}
! quarvel_known || fail "a quarvel package is installed already; remove it first (dpkg -r quarvel)"

mapfile -t debs < <(scripts/package.sh)
[ "${#debs[@]}" -ge 1 ] || fail "scripts/package.sh built no package"
require_tools lintian desktop-file-validate

work="$(mktemp -d)"
installed=0
cleanup() {
    stop_sim
    [ "$installed" -eq 0 ] || dpkg -r quarvel >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

# lintian: errors fail the test; the warnings and notes are printed, and
# docs/design.md says why those that remain do.
for deb in "${debs[@]}"; do
    echo "lintian $(basename "$deb"):"
    lintian --fail-on error --info "$deb" || fail "lintian reports errors for $deb"
done

# What the packages hold, and which of those paths existed before.
for deb in "${debs[@]}"; do
    dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^/\?$'
done | sort -u >"$work/paths"
grep -qx /usr/bin/quarvel-cli "$work/paths" || fail "the package holds no /usr/bin/quarvel-cli"
while read -r path; do
    [ ! -e "$path" ] || echo "$path"
done <"$work/paths" >"$work/existing"

installed=1
dpkg -i "${debs[@]}" || fail "dpkg -i failed"

# Dependencies as dpkg-shlibdeps found them.
dpkg-query -W -f='${Depends}\n' quarvel | grep -q 'libqt6widgets6' ||
    fail "the package does not depend on libqt6widgets6: $(dpkg-query -W -f='${Depends}' quarvel)"

[ "$(command -v quarvel-cli)" = /usr/bin/quarvel-cli ] || fail "quarvel-cli is not found on PATH"
/usr/bin/quarvel-sim --help >/dev/null || fail "/usr/bin/quarvel-sim --help failed"
desktop-file-validate /usr/share/applications/org.hollin.Quarvel.desktop ||
    fail "the installed desktop entry is not valid"
check_screenshot /usr/bin "$work/run"

dpkg -r quarvel || fail "dpkg -r failed"
installed=0
! quarvel_known || fail "quarvel is still known to dpkg: $(dpkg-query -W -f='${Status}' quarvel)"
while read -r path; do
    if [ -e "$path" ] && ! grep -qxF "$path" "$work/existing"; then
        echo "left behind: $path" >&2
        left=1
    fi
done <"$work/paths"
[ -z "${left:-}" ] || fail "dpkg -r left files behind"
echo "package test passed: $(basename -a "${debs[@]}" | tr '\n' ' ')"
