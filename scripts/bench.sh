#!/usr/bin/env bash
# Builds the launch benchmark and runs it under Wine: the floor (a program that
# only copies itself and starts the copy) against QuorlLaunch.exe in a sample
# installation without a pending update, all under one warm wineserver.
#   QUORL_BENCH_RUNS           timed starts of each (default 30, at least 10)
#   QUORL_BUILD_DIR            build tree (default build)
#   QUORL_TEST_DISPLAY_NUMBER  Xvfb display number (default 87)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh

build=${QUORL_BUILD_DIR:-build}
cmake --preset mingw-cross -B "$build" >/dev/null
# The fake client stands in for the mail client; it exists with the tests only.
targets=(QuorlLaunch launch_floor launch_bench)
cmake --build "$build" --target help | grep -q '^fake_client:' && targets+=(fake_client)
cmake --build "$build" --target "${targets[@]}"

root=$PWD
sample="$root/$build/bench-sample"
app="$sample/app"
rm -rf "$sample"
mkdir -p "$app" "$sample/floor"
cp "$build/bin/QuorlLaunch.exe" "$app/"
for file in Quorl.exe sqlite3.dll log4cpp.dll mailcore2.dll libetpan.dll uchardet.dll \
    Tolvane.dll ovank.dll; do
    : >"$app/$file"
done
# The loader looks for the client one level up; any file will do under Wine,
# whose restricted start fails before the client could run.
if [ -f "$build/bin/fake_client.exe" ]; then
    cp "$build/bin/fake_client.exe" "$sample/Quorl.exe"
else
    : >"$sample/Quorl.exe"
fi
cp "$build/bin/launch_floor.exe" "$sample/floor/"

# The same display handling as the tests: a message box would need one.
display_number=${QUORL_TEST_DISPLAY_NUMBER:-87}
export QUORL_TEST_DISPLAY=":$display_number"
started_xvfb=""
if [ ! -S "/tmp/.X11-unix/X$display_number" ]; then
    Xvfb "$QUORL_TEST_DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    started_xvfb=$!
fi
stop() {
    WINEPREFIX="$root/$build/wineprefix" wineserver -k >/dev/null 2>&1 || true
    [ -n "$started_xvfb" ] && kill "$started_xvfb" 2>/dev/null || true
}
trap stop EXIT

# wine-run.sh keeps one wineserver running for the whole run of the driver.
"$root/cmake/wine-run.sh" "$root/$build/wineprefix" "$root/$build/bin/launch_bench.exe" \
    "$sample/floor/launch_floor.exe" "$app/QuorlLaunch.exe" "${QUORL_BENCH_RUNS:-30}"
