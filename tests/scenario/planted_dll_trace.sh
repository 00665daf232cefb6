#!/usr/bin/env bash
# Under Wine: with a userenv.dll planted beside the launcher, Wine's own DLL
# trace shows that the loader still reaches the restricted start's
# environment block, with userenv.dll from the system directory, and the
# planted copy marks no process.
#   planted_dll_trace.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
prefix=$build/wineprefix
"$src/cmake/wine-run.sh" --prepare "$prefix"
export WINEPREFIX=$prefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=+loaddll

work=$(mktemp -d "$build/planted-trace.XXXXXX")
trap 'rm -rf "$work"' EXIT
app=$work/app
mkdir -p "$app"
cp "$build/bin/QuorlLaunch.exe" "$build/bin/planted/userenv.dll" "$app/"
for file in Quorl.exe sqlite3.dll log4cpp.dll mailcore2.dll libetpan.dll uchardet.dll \
    Tolvane.dll ovank.dll; do
    : >"$app/$file"
done
cp "$build/bin/fake_client.exe" "$work/Quorl.exe"

# The loader inherits the launcher's standard error, so both traces land in one file.
for attempt in 1 2 3; do
    (cd "$app" && wine QuorlLaunch.exe >"$work/out" 2>"$work/trace") || true
    [ -s "$work/out" ] && break
    echo "attempt $attempt: wine gave up before the launcher ran"
done
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
grep -q "^$loader:trace:loaddll:build_module Loaded L\"C:\\\\\\\\windows\\\\\\\\system32\\\\\\\\userenv.dll\"" \
    "$work/trace" || fail "the loader never loaded userenv.dll from the system directory"
if grep -i 'Loaded L".*\\\\app\\\\userenv.dll"' "$work/trace"; then
    fail "a process loaded the planted userenv.dll"
fi
echo "the loader (process $loader) took userenv.dll from the system directory only"
