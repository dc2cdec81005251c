#!/usr/bin/env bash
# Installs what is missing (when run as root), configures, builds and runs the
# whole test suite.   Usage: scripts/test.sh [release|debug|asan]
set -euo pipefail
preset="${1:-release}"
cd "$(dirname "$0")/.."

source scripts/lib/packages.sh
install_missing_packages
generate_test_locale

cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
# A test that fails is run once more and the run passes only if it then
# passes: the suite runs many simulators and GUI processes side by side on
# shared machines, where a rare timing (the leak check of a Qt process at exit
# has reported a 152-byte allocation inside Qt Core once, not reproduced in
# sixty runs) should not fail a whole run. The log keeps the first failure.
ctest --preset "$preset" -j "$(nproc)" --timeout 300 --repeat until-pass:2
