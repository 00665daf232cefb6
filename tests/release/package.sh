#!/usr/bin/env bash
# cmake --install puts the signed launcher under bin/ beside the README, and the CPack
# ZIP holds both.
# Usage: package.sh WORK_DIR (made by signed_build.sh)
set -euo pipefail
work=$1
build="$work/build"
exe="$build/bin/QuorlLaunch.exe"
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

rm -rf "$work/install" "$work/unzip"
cmake --install "$build" --prefix "$work/install" >/dev/null
cmp -s "$exe" "$work/install/bin/QuorlLaunch.exe" || fail "installed bin/QuorlLaunch.exe differs from the build"
[ -f "$work/install/README.md" ] || fail "README.md not installed"

(cd "$build" && cpack -G ZIP >/dev/null)
zip=$(ls "$build"/QuorlLaunch-*-win64.zip)
listing=$(cmake -E tar tf "$zip")
echo "$zip:"
echo "$listing"
grep -q '/bin/QuorlLaunch.exe$' <<<"$listing" || fail "the ZIP lacks bin/QuorlLaunch.exe"
grep -q '/README.md$' <<<"$listing" || fail "the ZIP lacks README.md"

mkdir -p "$work/unzip"
(cd "$work/unzip" && cmake -E tar xf "$zip")
packaged=$(find "$work/unzip" -name QuorlLaunch.exe)
cmp -s "$exe" "$packaged" || fail "the packaged launcher differs from the signed build"

[ "$status" -eq 0 ] && echo "OK: installed and packaged"
exit "$status"
