#!/usr/bin/env bash
# Under Wine, from a shell: a launcher whose path is past the classic limit
# cannot name its own directory. It must say so and end, not look for the
# installation where it was started (and blame security software for it).
# CreateProcessW refuses such a path, so the test starts it the way wine does.
#   long_path_start.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source "$1/scripts/common.sh"
build=$2
"$1/cmake/wine-run.sh" --prepare "$build/wineprefix"
export WINEPREFIX=$build/wineprefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all

root=$(mktemp -d "$build/long-path.XXXXXX")
trap 'rm -rf "$root"' EXIT
app=$root/$(printf 'd%.0s' {1..250})
mkdir "$app" "$root/started-here"
cp "$build/bin/QuorlLaunch.exe" "$app/"
# Complete where it is started too, so that a launcher that went on there
# would run its road rather than wait on the required-files box.
for file in $(required_file_names); do : >"$app/$file"; : >"$root/started-here/$file"; done

launch() { cd "$root/started-here" && { wine "$app/QuorlLaunch.exe"; echo $? >"$root/rc"; }; }
until_it_printed "$root/out" launch
messages=$(cut -c23- "$root/out" | tr -d '\r')
if [ "$messages" != $'\nset working directory failed!' ] || [ "$(cat "$root/rc")" != 1 ]; then
    echo "FAILED: the launcher wrote:"
    cat "$root/out"
    exit 1
fi
echo "a directory that could not be entered ended the run"
