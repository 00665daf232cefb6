#!/usr/bin/env bash
# Two clean builds of one source tree, checked out at two different paths and built in
# two different build directories at different times, must give a bit-identical
# QuorlLaunch.exe that names neither path and takes at most 256 KiB.
# Usage: reproducible_build.sh SOURCE_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
source_dir=$1

work=$(mktemp -d "${TMPDIR:-/tmp}/quorl-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT

first_tree="$work/a/src"
second_tree="$work/second-checkout/quorl/src"
copy_source "$source_dir" "$first_tree"
# Copied from the first copy, so that a colleague's edit in between cannot split them.
mkdir -p "$(dirname "$second_tree")"
cp -a "$first_tree" "$second_tree"

configure_and_build "$first_tree" "$work/a/b"
configure_and_build "$second_tree" "$work/second-checkout/build-elsewhere"

first="$work/a/b/bin/QuorlLaunch.exe"
second="$work/second-checkout/build-elsewhere/bin/QuorlLaunch.exe"
first_sha=$(sha256sum "$first" | cut -d' ' -f1)
second_sha=$(sha256sum "$second" | cut -d' ' -f1)
echo "first build:  $first_sha"
echo "second build: $second_sha"
status=0
if [ "$first_sha" != "$second_sha" ]; then
    echo "FAIL: the two builds differ; first differing bytes (offset, octal values):" >&2
    cmp -l "$first" "$second" | head -n 20 >&2 || true
    status=1
fi
for exe in "$first" "$second"; do
    if grep -q -a -F "$work" "$exe"; then
        echo "FAIL: $exe contains its build or source path" >&2
        status=1
    fi
done
# Every start copies the image and a scanner reads the copy: it must not grow back.
size=$(stat -c %s "$first")
if [ "$size" -gt 262144 ]; then
    echo "FAIL: QuorlLaunch.exe is $size bytes, over the 262144 (256 KiB) it may take" >&2
    status=1
fi
# Without a certificate the build must stay unsigned.
if osslsigncode verify -in "$first" >/dev/null 2>&1; then
    echo "FAIL: an unsigned build carries a signature" >&2
    status=1
fi
[ "$status" -eq 0 ] && echo "OK: bit-identical ($size bytes)"
exit "$status"
