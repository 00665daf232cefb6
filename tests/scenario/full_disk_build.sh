#!/usr/bin/env bash
# Under Wine: a disk that takes no more bytes (a file-size limit of 0 on the
# launcher's process) makes the loader copy fail only when its buffered bytes
# are written out at the end. The launcher must say so and start nothing.
#   full_disk_build.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source "$1/scripts/common.sh"
src=$1
build=$2
"$src/cmake/wine-run.sh" --prepare "$build/wineprefix"
export WINEPREFIX=$build/wineprefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all

app=$(mktemp -d "$build/full-disk.XXXXXX")
trap 'rm -rf "$app"' EXIT
# Started under another name, so that the file it copies can be small enough
# to sit whole in the copy's buffer.
cp "$build/bin/QuorlLaunch.exe" "$app/QuorlStart.exe"
head -c 600 "$build/bin/QuorlLaunch.exe" >"$app/QuorlLaunch.exe"
for file in $(required_file_names); do : >"$app/$file"; done

# Only the launcher is limited; its standard output reaches the file through a pipe.
launch_on_a_full_disk() { cd "$app" && trap '' XFSZ && ulimit -f 0 && exec wine QuorlStart.exe; }
until_it_printed "$app/out" launch_on_a_full_disk

messages=$(cut -c23- "$app/out" | tr -d '\r' | tail -n +2)
expected=$'start Quorl Launch...\nbuild Quorl Loader...\nbuild Quorl Loader failed!\nexit Quorl Launch'
if [ "$messages" != "$expected" ]; then
    echo "FAILED: the launcher wrote:"
    cat "$app/out"
    exit 1
fi
[ ! -s "$app/QuorlLoader.exe" ] || { echo "FAILED: bytes reached the full disk"; exit 1; }
echo "a copy that could not be written out was reported and not started"
