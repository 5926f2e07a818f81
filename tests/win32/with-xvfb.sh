#!/bin/bash
# Runs a command with DISPLAY set to a virtual X server of its own, which
# ends with it.
#   tests/win32/with-xvfb.sh COMMAND [ARGS...]
set -u
display=
for n in $(seq 100 250); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        display=$n
        break
    fi
done
[ -n "$display" ] || { echo "with-xvfb: no free X display" >&2; exit 1; }
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null' EXIT
export DISPLAY=":$display"
for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done
"$@"
