#!/usr/bin/env bash
# Builds QuorlLaunch.exe, lays out a sample installation under the build tree
# with a pending update, runs the launcher there twice under Wine and prints
# the log: the first run installs and archives the update, the second finds none.
# Both start the stand-in client, which shows how it was started.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh demo
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
# The stand-in client records how it was started, beside itself, and counts its
# runs; the loader does not wait for it, so give the second one a moment.
record="$sample/client-record.txt"
for _ in $(seq 1 100); do
    [ "$(stat -c %s "$record.runs" 2>/dev/null || echo 0)" -ge 2 ] && break
    sleep 0.05
done
echo "Client runs: $(stat -c %s "$record.runs" 2>/dev/null || echo 0)"
if [ -f "$record" ]; then
    echo "== The client as it saw itself at its last start ($record)"
    tr -d '\r' <"$record" | grep -E '^(cwd|commandline|admins)='
else
    echo "The client never ran: no $record"
fi
