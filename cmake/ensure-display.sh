#!/usr/bin/env bash
# ensure-display.sh NUMBER: makes sure an X server answers on display :NUMBER,
# starting Xvfb when none runs. Prints the PID of an Xvfb it started, nothing
# otherwise. A socket or lock file left by a server that was killed does not
# count: only a lock file naming a running process does.
set -u
number=$1
lock=/tmp/.X$number-lock
socket=/tmp/.X11-unix/X$number

# A killed server may linger as a zombie where nothing reaps it.
process_running() {
    local state
    state=$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}

server_alive() {
    [ -f "$lock" ] && [ -S "$socket" ] && process_running "$(tr -d ' ' <"$lock")"
}

server_alive && exit 0
rm -f "$lock" "$socket"
setsid Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
pid=$!
for _ in $(seq 1 100); do
    server_alive && break
    sleep 0.05
done
echo "$pid"
