#!/usr/bin/env bash
# Builds QuorlLaunch.exe, lays out a sample installation under the build tree,
# runs the launcher there under Wine and prints the log.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh

build=${QUORL_BUILD_DIR:-build}
cmake --preset mingw-cross -B "$build" >/dev/null
cmake --build "$build" --target QuorlLaunch

sample="$PWD/$build/sample"
app="$sample/app"
rm -rf "$sample"
mkdir -p "$app"
cp "$build/bin/QuorlLaunch.exe" "$app/"
for file in Quorl.exe sqlite3.dll log4cpp.dll mailcore2.dll libetpan.dll uchardet.dll \
    Tolvane.dll ovank.dll; do
    : >"$app/$file"
done

echo "Sample installation: $app"
root=$PWD
status=0
(cd "$app" && "$root/cmake/wine-run.sh" "$root/$build/wineprefix" QuorlLaunch.exe) || status=$?
echo "QuorlLaunch.exe exit code: $status"
echo "---- $app/logs/SimpleLogger.log"
cat "$app/logs/SimpleLogger.log"
