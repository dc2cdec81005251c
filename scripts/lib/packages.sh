# shellcheck shell=bash
# Sourced by scripts/test.sh, scripts/try.sh and scripts/package.sh: the Debian packages Quarvel
# builds, tests and runs with, and the step that installs the missing ones.

quarvel_packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libusb-1.0-0-dev
                  # toml++, header-only, which reads the instrument definitions
                  libtomlplusplus-dev
                  libgtest-dev libgmock-dev
                  googletest libbenchmark-dev xvfb xauth
                  # decoders other than Qt's that check quarvel-cli's image files
                  imagemagick file
                  # the comma-decimal locale the data file tests write under
                  locales
                  # manual pages, and the validators and tools of the packaging tests
                  scdoc man-db desktop-file-utils appstream dpkg-dev lintian
                  # GetData (checkdirfile and its Python binding), which reads captured dirfiles back
                  libgetdata-tools python3-pygetdata
                  # PyVISA, which the VISA library's tests and benchmark drive it with
                  python3 python3-pyvisa python3-pyvisa-py
                  # Linux's USB/IP tool, the third-party client of the simulator's USB/IP server
                  usbip
                  # Wireshark's dissectors, which decode the recorded HiSLIP, VXI-11 and USB/IP
                  # conversations of tests/visa/wire_decoder_test.cpp (files only, no capture:
                  # installed non-interactively, it keeps capturing to root)
                  tshark
                  # DNS-SD: Avahi's client library (discovery), avahi-publish (the simulator's
                  # --publish) and avahi-browse from avahi-utils, and the daemons the tests
                  # run privately on loopback
                  libavahi-client-dev libdbus-1-dev avahi-daemon avahi-utils dbus-daemon)

# Installs the missing packages when run as root; otherwise names them and
# exits, because nothing after this step can work without them.
install_missing_packages() {
    local missing=() p
    for p in "${quarvel_packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        if [ "$(id -u)" -eq 0 ]; then
            echo "Installing: ${missing[*]}"
            export DEBIAN_FRONTEND=noninteractive
            # No service starts while installing: avahi-daemon would announce
            # this machine on its real network interfaces. The tests start
            # their own daemons, on loopback only.
            local own_policy=
            if [ ! -e /usr/sbin/policy-rc.d ]; then
                printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
                chmod 755 /usr/sbin/policy-rc.d
                own_policy=1
            fi
            apt-get update -qq
            apt-get install -y -qq --no-install-recommends "${missing[@]}"
            if [ -n "$own_policy" ]; then rm -f /usr/sbin/policy-rc.d; fi
        else
            echo "Missing Debian packages (run as root to install them): ${missing[*]}" >&2
            exit 1
        fi
    fi
}

# The data file and formatted I/O tests run under de_DE.UTF-8, whose decimal
# separator is a comma; generates it when root and it is missing (a fresh
# Debian has only C and POSIX). Without root the tests that need it fail.
generate_test_locale() {
    locale -a 2>/dev/null | grep -qix 'de_DE.utf8' && return 0
    if [ "$(id -u)" -eq 0 ]; then
        sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
        grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
        locale-gen
    else
        echo "Locale de_DE.UTF-8 missing (run as root to generate it); the locale tests will fail" >&2
    fi
}
