#!/usr/bin/env bash
# `cmake --install` of a built tree, into a prefix and into a DESTDIR: the
# same files land in both, exactly the expected ones; the desktop entry, the
# metainfo and the manual pages pass their validators; the installed
# quarvel-cli takes screenshots from the installed quarvel-sim; the installed
# VISA library works loaded by path, and linked through its pkg-config file
# and header by a program built here.
#
# Usage: install_test.sh BUILD_DIR APP_ID VERSION LIBDIR "REAL SONAME LINKER" DLOPEN_CLIENT CXX
#        [CXXFLAGS]
#   VERSION: the project version the programs report; LIBDIR: the library directory relative to the prefix; then the file names
#   of the VISA library; a program that dlopens a VISA library and asks
#   *IDN? (dlopen_client LIBRARY RESOURCE); the C++ compiler and the flags the
#   build's own code has (the sanitizers).
set -euo pipefail
build="$1"
app_id="$2"
version="$3"
libdir="$4"
read -r lib_real lib_soname lib_linker <<<"$5"
dlopen_client="$6"
cxx="$7"
read -r -a cxxflags <<<"${8:-}"
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=tests/packaging/lib.sh
source "$here/lib.sh"
require_tools cmake desktop-file-validate appstreamcli man od pkg-config readelf nm cc "$cxx"

work="$(mktemp -d)"
trap 'stop_sim; rm -rf "$work"' EXIT

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" ||
    fail "cmake --install --prefix failed: $(cat "$work/install.log")"
DESTDIR="$work/dest" cmake --install "$build" --prefix /usr >"$work/destdir.log" ||
    fail "cmake --install with DESTDIR failed: $(cat "$work/destdir.log")"

# The layout, relative to the prefix.
icon_sizes=(16 22 24 32 48 64)
expected=(
    bin/quarvel bin/quarvel-cli bin/quarvel-sim
    share/man/man1/quarvel.1.gz share/man/man1/quarvel-cli.1.gz share/man/man1/quarvel-sim.1.gz
    "share/applications/$app_id.desktop"
    "share/metainfo/$app_id.metainfo.xml"
    "$libdir/$lib_real" "$libdir/$lib_soname" "$libdir/$lib_linker"
    "$libdir/pkgconfig/quarvel-visa.pc" include/quarvel/visa.h
    lib/udev/rules.d/60-quarvel-usbtmc.rules
)
for size in "${icon_sizes[@]}"; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/quarvel.png")
done
# The built-in instrument definitions, installed as examples.
for definition in "$here"/../../instr/definitions/*.toml; do
    expected+=("share/quarvel/instruments/examples/$(basename "$definition")")
done
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$work/prefix.files"
(cd "$work/dest/usr" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$work/dest.files"
diff -u "$work/expected" "$work/prefix.files" || fail "installed files differ from the layout"
diff -u "$work/prefix.files" "$work/dest.files" || fail "DESTDIR install differs from the prefix one"
[ -z "$(find "$work/dest" -path "$work/dest/usr" -prune -o -type f -print)" ] ||
    fail "files installed outside the prefix"

for program in quarvel quarvel-cli quarvel-sim; do
    [ -x "$prefix/bin/$program" ] || fail "$program is not executable"
done
for program in quarvel-cli quarvel-sim; do
    [ "$("$prefix/bin/$program" --version)" = "$program $version" ] ||
        fail "installed $program --version does not say $version"
done

# Each icon is a PNG of its directory's size (width and height are the
# big-endian words at offsets 16 and 20 of the IHDR chunk).
for size in "${icon_sizes[@]}"; do
    icon="$prefix/share/icons/hicolor/${size}x${size}/apps/quarvel.png"
    magic=$(od -An -tx1 -N4 "$icon" | tr -d ' \n')
    read -r w h < <(od -An -tu4 --endian=big -j16 -N8 "$icon")
    [ "$magic" = 89504e47 ] || fail "$icon is not a PNG"
    [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "$icon is ${w}x$h, not ${size}x$size"
done

# Validators: clean output, not only a zero exit status.
desktop_out=$(desktop-file-validate "$prefix/share/applications/$app_id.desktop" 2>&1) ||
    fail "desktop-file-validate: $desktop_out"
[ -z "$desktop_out" ] || fail "desktop-file-validate: $desktop_out"
appstreamcli validate --no-net "$prefix/share/metainfo/$app_id.metainfo.xml" >"$work/as.out" 2>&1 ||
    fail "appstreamcli validate: $(cat "$work/as.out")"
grep -q 'screenshot.png</image>' "$prefix/share/metainfo/$app_id.metainfo.xml" ||
    fail "the metainfo names no screenshot"
for page in "$prefix"/share/man/man1/*.1.gz; do
    man_warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >"$work/page.txt") ||
        fail "man -l $page failed: $man_warnings"
    [ -z "$man_warnings" ] || fail "man -l $page: $man_warnings"
    grep -q '^NAME' "$work/page.txt" || fail "man -l $page: no NAME section"
done

# The library's links: SONAME name to the real file, development link to the
# SONAME one; and the SONAME recorded in the library is that name.
[ "$(readlink "$prefix/$libdir/$lib_soname")" = "$lib_real" ] || fail "$lib_soname link is wrong"
[ "$(readlink "$prefix/$libdir/$lib_linker")" = "$lib_soname" ] || fail "$lib_linker link is wrong"
readelf -d "$prefix/$libdir/$lib_real" | grep -q "SONAME.*\[$lib_soname\]" ||
    fail "$lib_real does not carry the SONAME $lib_soname"

# The installed programs work together.
check_screenshot "$prefix/bin" "$work/run"
# Every installed example is a definition the installed program accepts.
for definition in "$prefix"/share/quarvel/instruments/examples/*.toml; do
    "$prefix/bin/quarvel-cli" families --check "$definition" >"$work/check.log" 2>&1 ||
        fail "example $definition refused: $(cat "$work/check.log")"
done

# The installed library, loaded by path and linked by a program built against
# the installed header through pkg-config, talks to the installed simulator.
idn="ACME,INSTALLED-1,42,0.1"
start_sim "$prefix/bin/quarvel-sim" "$work/sim-visa.out" --idn "$idn"
resource="TCPIP0::127.0.0.1::$SIM_SOCKET_PORT::SOCKET"
"$dlopen_client" "$prefix/$libdir/$lib_soname" "$resource" >"$work/dlopen.out" 2>&1 ||
    fail "the installed library loaded by path failed: $(cat "$work/dlopen.out")"
grep -q "^queryf: $idn" "$work/dlopen.out" || fail "no identification by dlopen: $(cat "$work/dlopen.out")"

export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
read -r -a flags <<<"$(pkg-config --cflags --libs quarvel-visa)" || fail "pkg-config quarvel-visa failed"
# The header serves C and C++ programs alike.
cc -std=c11 -Wall -Wextra "${cxxflags[@]}" -o "$work/idn_client" "$here/visa_idn_client.c" "${flags[@]}" ||
    fail "a C program does not build against the installed header and library"
"$cxx" -x c++ -std=c++17 -Wall -Wextra "${cxxflags[@]}" -o "$work/idn_client_cxx" \
    "$here/visa_idn_client.c" "${flags[@]}" ||
    fail "a C++ program does not build against the installed header and library"
readelf -d "$work/idn_client" | grep -q "NEEDED.*\[$lib_soname\]" ||
    fail "the program built against the installed library does not need $lib_soname"
LD_LIBRARY_PATH="$prefix/$libdir" "$work/idn_client" "$resource" >"$work/idn.out" 2>&1 ||
    fail "the program linked with the installed library failed: $(cat "$work/idn.out")"
expected="$idn
block: VI_SUCCESS, 300009 bytes
progress: reported
status name: VI_ERROR_TMO
find report: library: no VISA library is loaded
search after cancel: VI_ERROR_ABORT"
[ "$(cat "$work/idn.out")" = "$expected" ] || fail "linked program said '$(cat "$work/idn.out")'"
# Every function the installed header declares is exported, with its version.
declared=$(grep -oE '^QVI_EXPORT [^(]*\b(q?vi[A-Za-z]+)\(' "$prefix/include/quarvel/visa.h" |
    grep -oE '\bq?vi[A-Za-z]+\($' | tr -d '(')
[ -n "$declared" ] || fail "no function declarations found in the installed visa.h"
exported=$(nm -D --defined-only "$prefix/$libdir/$lib_real")
for function in $declared; do
    grep -q " $function@@QUARVEL_VISA_1\$" <<<"$exported" ||
        fail "visa.h declares $function, which the library does not export as QUARVEL_VISA_1"
done
stop_sim
echo "install test passed"
