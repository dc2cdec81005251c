#!/usr/bin/env bash
# Builds the libFuzzer targets (preset 'fuzz', clang, ASan + UBSan) and runs
# each for a number of executions, failing on the first crash.
#   Usage: scripts/fuzz.sh [RUNS] [TARGET...]
#   RUNS defaults to 1000000; TARGET names like fuzz_resource_name_fuzz
#   (default: every fuzz/*_fuzz.cpp). FUZZ_BUILD_DIR overrides the build
#   directory (default: the preset's, build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-1000000}"
shift || true
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
    for f in fuzz/*_fuzz.cpp; do
        targets+=("fuzz_$(basename "$f" .cpp)")
    done
fi

if [ -n "${FUZZ_BUILD_DIR:-}" ]; then
    build="$FUZZ_BUILD_DIR"
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQUARVEL_FUZZ=ON >/dev/null
    cmake --build "$build" --target "${targets[@]}"
else
    build=build/fuzz
    cmake --preset fuzz >/dev/null
    cmake --build --preset fuzz --target "${targets[@]}"
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
for t in "${targets[@]}"; do
    corpus="$build/corpus/$t"
    mkdir -p "$corpus"
    log="$build/$t.log"
    echo "== $t: $runs runs"
    if "$build/bin/$t" -runs="$runs" -max_len=4096 -timeout=10 \
        -artifact_prefix="$build/$t-" "$corpus" >"$log" 2>&1; then
        grep -E "^Done [0-9]+ runs" "$log" || tail -n 3 "$log"
    else
        echo "FAILED: $t (see $log)"
        tail -n 30 "$log"
        status=1
    fi
done
exit "$status"
