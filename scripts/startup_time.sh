#!/usr/bin/env bash
# Start-up time of the desktop window: from the process start to the main
# window shown on the screen, under a virtual X server (Xvfb). Runs the
# program several times with a fresh settings store and prints each time and
# the median. Target: below 0.5 s.
#   Usage: scripts/startup_time.sh [path/to/quarvel] [runs]
# Needs xvfb (xvfb-run) and x11-utils (xwininfo). The X server runs with
# -noreset: otherwise it resets whenever the last client leaves, and a run
# that starts during the reset cannot open the display.
set -euo pipefail
cd "$(dirname "$0")/.."
quarvel="$(realpath "${1:-build/release/bin/quarvel}")"
runs="${2:-5}"

if [ -z "${QUARVEL_STARTUP_INNER:-}" ]; then
    exec env QUARVEL_STARTUP_INNER=1 xvfb-run -a -s "-screen 0 1400x900x24 -noreset" "$0" "$quarvel" "$runs"
fi

config="$(mktemp -d)"
trap 'rm -rf "$config"' EXIT
times=()
for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    XDG_CONFIG_HOME="$config" "$quarvel" >/dev/null 2>&1 &
    pid=$!
    shown=""
    # Poll the window's map state every 5 ms, for at most 10 s.
    for _ in $(seq 2000); do
        if xwininfo -name "Quarvel v0.14" 2>/dev/null | grep -q "IsViewable"; then
            shown=$(date +%s%N)
            break
        fi
        sleep 0.005
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    if [ -z "$shown" ]; then
        echo "The window did not appear within 10 s." >&2
        exit 1
    fi
    ms=$(( (shown - start) / 1000000 ))
    times+=("$ms")
    echo "start-up: ${ms} ms"
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
echo "median start-up time: ${median} ms (target < 500 ms)"
