#!/usr/bin/env bash
# The README's pictures of the window as a new user first sees it: a fresh
# settings store, a 1280 × 800 screen (Xvfb, no window manager), quarvel-sim
# as an InfiniiVision X sending at 20 kB/s, Connect and then F5 (docs/screenshot.png
# after it), F5 again (docs/screenshot-progress.png halfway). The first-window
# test does the steps and saves the window where QUARVEL_SCREENSHOT and
# QUARVEL_SCREENSHOT_PROGRESS say.
#   Usage: scripts/readme_screenshots.sh [build directory]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
QT_QPA_PLATFORM=xcb QUARVEL_TEST_SCREEN=1280x800 QUARVEL_SCREENSHOT="$PWD/docs/screenshot.png" \
    QUARVEL_SCREENSHOT_PROGRESS="$PWD/docs/screenshot-progress.png" \
    xvfb-run -a -s "-screen 0 1280x800x24" "$build/bin/test_ui_first_window" \
    --gtest_filter=FirstWindow.TheCaptureKeyCapturesFromATextBox
