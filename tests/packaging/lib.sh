# shellcheck shell=bash
# Shared by the packaging tests: failing with a reason, and a simulator run
# from a given quarvel-sim binary on free loopback ports.

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The validators are part of the test: a missing one fails it (scripts/test.sh
# installs them).
require_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/test.sh installs it)"
    done
}

# start_sim SIM_BINARY OUTPUT_FILE ARGS...: starts the simulator on free ports
# and sets SIM_PID, SIM_SOCKET_PORT and SIM_PORTMAPPER_PORT once it has printed
# its endpoints. The caller's EXIT trap stops it (stop_sim).
start_sim() {
    local binary="$1" output="$2"
    shift 2
    "$binary" --socket-port 0 --portmapper-port 0 --hislip-port 0 "$@" >"$output" 2>&1 &
    SIM_PID=$!
    # The endpoint lines come once the sockets listen; a simulator that
    # exits instead ends the wait at once.
    local tries=0
    until grep -q '^portmapper ' "$output"; do
        kill -0 "$SIM_PID" 2>/dev/null || fail "quarvel-sim exited: $(cat "$output")"
        tries=$((tries + 1))
        [ "$tries" -lt 200 ] || fail "quarvel-sim printed no endpoints: $(cat "$output")"
        sleep 0.05
    done
    SIM_SOCKET_PORT=$(sed -n 's/^socket .*:\([0-9]*\)$/\1/p' "$output")
    SIM_PORTMAPPER_PORT=$(sed -n 's/^portmapper .*:\([0-9]*\)$/\1/p' "$output")
    [ -n "$SIM_SOCKET_PORT" ] && [ -n "$SIM_PORTMAPPER_PORT" ] || fail "no ports in: $(cat "$output")"
}

stop_sim() {
    if [ -n "${SIM_PID:-}" ]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
        SIM_PID=
    fi
}

# check_screenshot BINDIR WORKDIR: the installed quarvel-cli fetches the screen
# image of the installed quarvel-sim over SOCKET and VXI-11, and the files
# hold exactly the bytes the simulator served.
check_screenshot() {
    local bindir="$1" work="$2"
    mkdir -p "$work/served"
    start_sim "$bindir/quarvel-sim" "$work/sim.out" --instrument rigol --dump-images "$work/served"
    "$bindir/quarvel-cli" screenshot "TCPIP0::127.0.0.1::$SIM_SOCKET_PORT::SOCKET" \
        "$work/socket.bmp" || fail "quarvel-cli screenshot over SOCKET failed"
    "$bindir/quarvel-cli" screenshot --portmapper-port "$SIM_PORTMAPPER_PORT" \
        "TCPIP0::127.0.0.1::inst0::INSTR" "$work/vxi11.bmp" ||
        fail "quarvel-cli screenshot over VXI-11 failed"
    stop_sim
    cmp "$work/socket.bmp" "$work/served/image-0001.bmp" || fail "SOCKET screenshot differs"
    cmp "$work/vxi11.bmp" "$work/served/image-0002.bmp" || fail "VXI-11 screenshot differs"
}
