#!/usr/bin/env bash
# Try Quarvel without hardware: installs what is missing (when run as root),
# builds the release preset, starts the instrument simulator as an
# InfiniiVision X oscilloscope and opens Quarvel. The simulator stops when
# Quarvel is closed.   Usage: scripts/try.sh
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/lib/packages.sh
install_missing_packages

cmake --preset release
cmake --build --preset release --target quarvel quarvel-sim -j "$(nproc)"

bin=build/release/bin
sim_output="$(mktemp)"
sim_pid=""
stop_sim() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -f "$sim_output"
}
trap stop_sim EXIT

# Wait until the simulator has printed its endpoints.
wait_for_sim() {
    for _ in $(seq 100); do
        grep -q '^portmapper ' "$sim_output" && return 0
        kill -0 "$sim_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# As root the simulator takes the portmapper's own port, so Quarvel's default
# address TCPIP0::127.0.0.1::inst0::INSTR works at once. Otherwise (or when
# that port is taken) it listens on free ports and the raw socket address is
# the one to type.
started_on_111=no
if [ "$(id -u)" -eq 0 ]; then
    "$bin/quarvel-sim" --instrument infiniivision-x --socket-port 0 >"$sim_output" 2>&1 &
    sim_pid=$!
    if wait_for_sim; then
        started_on_111=yes
    else
        echo "The portmapper port 111 (or HiSLIP's 4880) is taken; the simulator uses free ports instead."
        stop_sim
        sim_output="$(mktemp)"
        sim_pid=""
    fi
fi
if [ "$started_on_111" = no ]; then
    "$bin/quarvel-sim" --instrument infiniivision-x --socket-port 0 --portmapper-port 0 \
        --hislip-port 0 >"$sim_output" 2>&1 &
    sim_pid=$!
    if ! wait_for_sim; then
        echo "The simulator did not start:" >&2
        cat "$sim_output" >&2
        exit 1
    fi
fi

socket_port="$(sed -n 's/^socket [0-9.]*:\([0-9]*\).*/\1/p' "$sim_output")"
echo
echo "quarvel-sim is simulating a Keysight InfiniiVision X oscilloscope."
if [ "$started_on_111" = yes ]; then
    echo "In Quarvel, press 'Connect instrument' with the address TCPIP0::127.0.0.1::inst0::INSTR"
else
    echo "In Quarvel, type this VISA address and press 'Connect instrument':"
fi
echo "    TCPIP0::127.0.0.1::${socket_port}::SOCKET  (raw socket, works always)"
echo

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found (DISPLAY is not set); start Quarvel from a desktop session." >&2
    exit 1
fi
"$bin/quarvel"
