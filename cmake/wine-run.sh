#!/usr/bin/env bash
# Runs one Windows program under Wine for CTest: wine-run.sh PREFIX PROGRAM [ARGS...]
# "wine-run.sh --prepare PREFIX" only readies the prefix, the server and the display.
#
# The build tree gets a Wine prefix of its own, one persistent wineserver and an
# Xvfb display, so that message boxes are real windows and process starts are cheap.
set -u

prepare_only=""
if [ "$1" = "--prepare" ]; then
    prepare_only=1
    shift
fi
prefix=$1
shift
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export DISPLAY=${QUORL_TEST_DISPLAY:-:87}
# Windows keeps any character in a file name, Wine keeps names in the Unix locale's
# character set: under none (a shell started without a locale) a name outside ASCII
# cannot be made. C leaves the ANSI code page at 1252, which the tests expect; a
# test that needs another one sets LC_ALL, which goes before LANG.
export LANG=${LANG:-C.UTF-8}
wine=${QUORL_WINE:-wine}

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9

"$(dirname "$0")/ensure-display.sh" "${DISPLAY#:}" >/dev/null

if [ ! -f "$prefix/.quorl-ready" ]; then
    "$wine" wineboot -i >/dev/null 2>&1
    # Without a window manager every closed box would stall unless Wine manages no windows.
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    # The first server after wineboot stalls the first box; start a fresh one.
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    touch "$prefix/.quorl-ready"
fi
wineserver -p60 >/dev/null 2>&1 < /dev/null
flock -u 9
exec 9>&-
[ -n "$prepare_only" ] && exit 0

# Now and then wine gives up before the program runs: exit 1, no output at all.
# Every test program prints before it can fail, so silence means "never ran".
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2 3; do
    "$wine" "$@" >"$out" 2>"$err" < /dev/null
    rc=$?
    if [ "$rc" -eq 0 ] || [ -s "$out" ]; then
        break
    fi
    echo "wine-run: attempt $attempt of $* gave exit $rc and no output" >&2
done
cat "$out"
cat "$err" >&2
exit "$rc"
