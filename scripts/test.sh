#!/usr/bin/env bash
# Builds QuorlLaunch.exe and every test, then runs all tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh

build=${QUORL_BUILD_DIR:-build}
cmake --preset mingw-cross -B "$build" >/dev/null
cmake --build "$build"

# One display for the whole run, so message boxes are real windows.
display_number=${QUORL_TEST_DISPLAY_NUMBER:-87}
export QUORL_TEST_DISPLAY=":$display_number"
started_xvfb=""
if [ ! -S "/tmp/.X11-unix/X$display_number" ]; then
    Xvfb "$QUORL_TEST_DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    started_xvfb=$!
fi
stop() {
    WINEPREFIX="$PWD/$build/wineprefix" wineserver -k >/dev/null 2>&1 || true
    [ -n "$started_xvfb" ] && kill "$started_xvfb" 2>/dev/null || true
}
trap stop EXIT

ctest --test-dir "$build" --output-on-failure --timeout 180
