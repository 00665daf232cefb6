#!/usr/bin/env bash
# Builds QuorlLaunch.exe and every test with GCC and with clang, runs the static
# analysers on the product code, then all tests under Wine on the GCC build and the
# scenario tests on the clang build's executable.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh test
source scripts/common.sh

configure_and_build
configure_and_build_clang
bash scripts/static-analysis.sh "$clang_build"
start_display
# Both runs report, whichever fails.
status=0
# The presets give each test its time-out and the output of a failure.
ctest --preset mingw-cross || status=1
echo "== Scenario tests on the clang build"
ctest --preset clang-mingw-cross -L scenario || status=1
exit "$status"
