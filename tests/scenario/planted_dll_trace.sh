#!/usr/bin/env bash
# Under Wine: with userenv.dll, wintrust.dll and crypt32.dll planted beside a
# signed launcher and a signed installer pending, Wine's own DLL trace shows
# that the loader checks the installer and reaches the restricted start's
# environment block with all three from the system directory, and no planted
# copy marks a process.
#   planted_dll_trace.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source "$1/scripts/common.sh"
src=$1
build=$2
prefix=$build/wineprefix
"$src/cmake/wine-run.sh" --prepare "$prefix"
export WINEPREFIX=$prefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=+loaddll

work=$(mktemp -d "$build/planted-trace.XXXXXX")
trap 'rm -rf "$work"' EXIT
app=$work/app
mkdir -p "$app"
dlls="userenv wintrust crypt32"
cp "$build/bin/signed/QuorlLaunch.exe" "$app/"
for dll in $dlls; do cp "$build/bin/planted/$dll.dll" "$app/"; done
mkdir -p "$work/update"
cp "$build/bin/signed/setup-same.exe" "$work/update/setup.exe"
export QUORL_SETUP_MS=0
for file in $(required_file_names); do : >"$app/$file"; done
cp "$build/bin/fake_client.exe" "$work/Quorl.exe"

# The loader inherits the launcher's standard error, so both traces land in one file.
launch_traced() { cd "$app" && exec wine QuorlLaunch.exe 2>"$work/trace"; }
until_it_printed "$work/out" launch_traced
for _ in $(seq 1 200); do
    grep -q "exit Quorl Loader" "$app/logs/SimpleLogger.log" 2>/dev/null && break
    sleep 0.05
done
sleep 0.2

fail() {
    echo "FAILED: $*"
    cat "$app/logs/SimpleLogger.log" 2>/dev/null || true
    exit 1
}
grep -q "exit Quorl Loader" "$app/logs/SimpleLogger.log" || fail "the loader did not finish"
[ ! -e "$app/planted-loaded.txt" ] || fail "the planted DLL was loaded by: $(cat "$app/planted-loaded.txt")"
loader=$(grep -m1 'Loaded L".*\\\\QuorlLoader.exe"' "$work/trace" | cut -d: -f1)
[ -n "$loader" ] || fail "no trace of the loader"
grep -q "setup.exe exit" "$app/logs/SimpleLogger.log" || fail "the installer did not run"
for dll in $dlls; do
    grep -q "^$loader:trace:loaddll:build_module Loaded L\"C:\\\\\\\\windows\\\\\\\\system32\\\\\\\\$dll.dll\"" \
        "$work/trace" || fail "the loader never loaded $dll.dll from the system directory"
    if grep -i "Loaded L\".*\\\\\\\\app\\\\\\\\$dll.dll\"" "$work/trace"; then
        fail "a process loaded the planted $dll.dll"
    fi
done
echo "the loader (process $loader) took $dlls from the system directory only"
