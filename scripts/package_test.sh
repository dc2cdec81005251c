#!/usr/bin/env bash
# The Debian packages on this machine: builds them (scripts/package.sh),
# checks them with lintian (no errors), installs them with dpkg -i, runs the
# programs from /usr/bin (a simulator screenshot through quarvel-cli), builds
# a program against the installed VISA library through pkg-config and runs
# it, removes the packages with dpkg -r and checks that nothing they
# installed is left behind.
#
# It changes the system, so it is not part of ctest: run it as root on a
# machine without Quarvel installed (CI runs it after the suite, .ci/run).
#   Usage: sudo scripts/package_test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source tests/packaging/lib.sh

[ "$(id -u)" -eq 0 ] || fail "the package test installs a package: run it as root"
mapfile -t debs < <(scripts/package.sh)
[ "${#debs[@]}" -ge 1 ] || fail "scripts/package.sh built no package"
require_tools lintian desktop-file-validate pkg-config cc
packages=()
for deb in "${debs[@]}"; do
    packages+=("$(dpkg-deb -f "$deb" Package)")
done

# The packages dpkg knows as installed, half-installed or with config files.
known_packages() {
    local package
    for package in "${packages[@]}"; do
        if dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null |
            grep -qv '^not-installed$'; then
            echo "$package"
        fi
    done
}
[ -z "$(known_packages)" ] ||
    fail "already installed: $(known_packages | tr '\n' ' ')(remove them first with dpkg -r)"

work="$(mktemp -d)"
installed=0
cleanup() {
    stop_sim
    [ "$installed" -eq 0 ] || dpkg -r "${packages[@]}" >/dev/null 2>&1 || true
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
dpkg-query -W -f='${Depends}\n' libquarvel-visa0 | grep -q 'libusb-1.0-0' ||
    fail "the VISA library does not depend on libusb-1.0-0: $(dpkg-query -W -f='${Depends}' libquarvel-visa0)"
# The udev rules where udev reads a package's rules, tagging USB instruments
# for the logged-in user.
grep -q 'TAG+="uaccess"' /usr/lib/udev/rules.d/60-quarvel-usbtmc.rules ||
    fail "the package installs no udev rules in /usr/lib/udev/rules.d"

[ "$(command -v quarvel-cli)" = /usr/bin/quarvel-cli ] || fail "quarvel-cli is not found on PATH"
version=$(dpkg-query -W -f='${Version}' quarvel)
[ "$(/usr/bin/quarvel-cli --version)" = "quarvel-cli $version" ] ||
    fail "quarvel-cli --version does not say the package version $version"
/usr/bin/quarvel-sim --help >/dev/null || fail "/usr/bin/quarvel-sim --help failed"
desktop-file-validate /usr/share/applications/org.hollin.Quarvel.desktop ||
    fail "the installed desktop entry is not valid"
check_screenshot /usr/bin "$work/run"

# The VISA library: known to the dynamic linker (the ldconfig trigger ran),
# and a program built with the development package's pkg-config file and
# header talks to the installed simulator through it.
ldconfig -p | grep -q 'libquarvel-visa\.so\.[0-9]' || fail "ldconfig does not know libquarvel-visa"
read -r -a flags <<<"$(pkg-config --cflags --libs quarvel-visa)" || fail "pkg-config quarvel-visa failed"
cc -std=c11 -o "$work/idn_client" tests/packaging/visa_idn_client.c "${flags[@]}" ||
    fail "a program does not build against the installed VISA library"
idn="ACME,PACKAGED-1,7,0.1"
start_sim /usr/bin/quarvel-sim "$work/sim.out" --idn "$idn"
# It prints the identification first, then what Quarvel's exported functions
# answered; it exits non-zero when any call failed.
client_output=$("$work/idn_client" "TCPIP0::127.0.0.1::$SIM_SOCKET_PORT::SOCKET") ||
    fail "the program linked with the installed VISA library failed: $client_output"
[ "$(head -n 1 <<<"$client_output")" = "$idn" ] ||
    fail "the program linked with the installed VISA library did not read the identification"
stop_sim

dpkg -r "${packages[@]}" || fail "dpkg -r failed"
installed=0
[ -z "$(known_packages)" ] || fail "still known to dpkg after dpkg -r: $(known_packages | tr '\n' ' ')"
while read -r path; do
    if [ -e "$path" ] && ! grep -qxF "$path" "$work/existing"; then
        echo "left behind: $path" >&2
        left=1
    fi
done <"$work/paths"
[ -z "${left:-}" ] || fail "dpkg -r left files behind"
echo "package test passed: $(basename -a "${debs[@]}" | tr '\n' ' ')"
