#!/usr/bin/env bash
# Builds the launch benchmark and runs it under Wine: the floor (a plain C
# program that only copies itself, starts the copy and has it start a third),
# the same floor with the launcher's required work added, and QuorlLaunch.exe
# in a sample installation without a pending update, all under one warm
# wineserver.
#   QUORL_BENCH_RUNS           timed starts of each (default 30, at least 10)
#   QUORL_TEST_DISPLAY_NUMBER  Xvfb display number (default 87)
set -euo pipefail
cd "$(dirname "$0")/.."
# The benchmark builds and runs under Wine as the demo does.
scripts/ensure-packages.sh demo
source scripts/common.sh

configure_and_build QuorlLaunch launch_floor launch_floor_required floor_end launch_bench

sample="$root/$build/bench-sample"
app="$sample/app"
lay_out_installation "$sample"
# The loader starts the client one level up. In its place stands the floor's
# own last program, so that every series starts the same third process: a
# heavier stand-in would start up alongside the loader's last steps, under one
# wineserver, and slow them for reasons that are not the launcher's.
cp "$build/bin/floor_end.exe" "$sample/Quorl.exe"
# The floors beside it, their last process one level up as the client is.
mkdir -p "$sample/floor/logs" "$sample/floor-required/logs" "$app/logs"
cp "$build/bin/launch_floor.exe" "$sample/floor/"
# The required floor checks the same files as the launcher does.
cp "$build/bin/launch_floor_required.exe" "$app"/*.dll "$app/Quorl.exe" "$sample/floor-required/"
cp "$build/bin/floor_end.exe" "$sample/"

# The same display handling as the tests: a message box would need one.
start_display

# wine-run.sh keeps one wineserver running for the whole run of the driver.
"$root/cmake/wine-run.sh" "$root/$build/wineprefix" "$root/$build/bin/launch_bench.exe" \
    "$sample/floor/launch_floor.exe" "$sample/floor-required/launch_floor_required.exe" \
    "$app/QuorlLaunch.exe" "${QUORL_BENCH_RUNS:-30}"
