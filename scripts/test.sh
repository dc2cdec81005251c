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
ctest --preset "$preset" -j "$(nproc)" --timeout 300
