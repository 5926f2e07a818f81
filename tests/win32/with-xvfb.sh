#!/bin/bash
# Runs a command with DISPLAY set to a virtual X server of its own, which
# ends with it.
#   tests/win32/with-xvfb.sh COMMAND [ARGS...]
# With PELMBUS_WINE_FRESH_SESSION naming a prefix's wine-run, that prefix's
# Wine session is ended first: a session started by a test without a display
# cannot show windows, and Wine would reuse it.
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
if [ -n "${PELMBUS_WINE_FRESH_SESSION:-}" ]; then
    "$PELMBUS_WINE_FRESH_SESSION" --wineserver -k 2>/dev/null
    "$PELMBUS_WINE_FRESH_SESSION" --wineserver -w 2>/dev/null
fi
for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done
"$@"
