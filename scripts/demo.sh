#!/usr/bin/env bash
# Builds QuorlLaunch.exe, lays out a sample installation under the build tree
# with a pending update, runs the launcher there twice under Wine and prints
# the log: the first run installs and archives the update, the second finds none.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

# The client and the installer are the test suite's stand-ins.
configure_and_build QuorlLaunch fake_client fake_setup

sample="$root/$build/sample"
app="$sample/app"
lay_out_installation "$sample"
mkdir -p "$sample/update"
cp "$build/bin/fake_setup.exe" "$sample/update/setup.exe"
export QUORL_SETUP_MS=500

log="$app/logs/SimpleLogger.log"
loader_runs() {
    local count
    count=$(grep -c "exit Quorl Loader" "$log" 2>/dev/null) || true
    echo "${count:-0}"
}

run_launcher() {
    local before status=0
    before=$(loader_runs)
    (cd "$app" && "$root/cmake/wine-run.sh" "$root/$build/wineprefix" QuorlLaunch.exe) \
        >/dev/null || status=$?
    echo "QuorlLaunch.exe exit code: $status"
    # The launcher does not wait for its loader; the log tells when it is done.
    for _ in $(seq 1 300); do
        [ "$(loader_runs)" -gt "$before" ] && return
        sleep 0.05
    done
    echo "the loader did not finish in time"
}

start_display
echo "Sample installation: $app"
echo "Pending update: $sample/update/setup.exe"
echo
echo "== First start"
run_launcher
present() { [ -f "$1" ] && echo present || echo absent; }
echo "update/setup.exe: $(present "$sample/update/setup.exe"); app/setup.exe.bak: $(present "$app/setup.exe.bak")"
echo
echo "== Second start"
run_launcher
echo
echo "== $log"
cat "$log"
echo
echo "Under Wine the client itself cannot start: Wine's Safer functions are stubs"
echo "that hand back no usable token, so the loader logs \"exec Quorl.exe failed!\"."
echo "On Windows the client starts as a normal user at medium integrity."
