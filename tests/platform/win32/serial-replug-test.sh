#!/bin/bash
# A serial adapter pulled out and plugged back, under Wine: the prefix maps
# COM13 to a link that socat makes to a pseudo-terminal. The link goes away
# (the terminal hangs up) and comes back under the same name; the slave must
# answer again by itself, with no reopen asked for.
#   serial-replug-test.sh WINE_RUN serial_slave.exe PRELOAD
set -euo pipefail
wine_run=$1
slave_exe=$2
preload=$3

work=$(mktemp -d)
socat_pid=
slave_pid=
feed_pid=
cleanup() {
    [ -n "$slave_pid" ] && kill "$slave_pid" 2>/dev/null
    [ -n "$feed_pid" ] && kill "$feed_pid" 2>/dev/null
    [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null
    "$wine_run" --wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "serial-replug-test: $*" >&2; exit 1; }

plug() {
    socat pty,raw,echo=0,link="$work/com" pty,raw,echo=0,link="$work/master" &
    socat_pid=$!
    for _ in $(seq 50); do
        [ -e "$work/com" ] && [ -e "$work/master" ] && return
        sleep 0.1
    done
    fail "no pseudo-terminal pair"
}
answers() {
    timeout 10 mbpoll -m rtu -b 9600 -P none -s 2 -d 8 -t 4 -0 -1 -o 2 -a 1 -r 300 \
        "$work/master" 2>/dev/null | grep -q '^\[300\]:'
}

plug
# The mapping takes effect when the prefix's session starts again.
"$wine_run" reg add 'HKLM\Software\Wine\Ports' /v COM13 /t REG_SZ /d "$work/com" /f >/dev/null
"$wine_run" --wineserver -k >/dev/null 2>&1 || true

mkfifo "$work/in"
sleep 1000 >"$work/in" &
feed_pid=$!
LD_PRELOAD="$preload" "$wine_run" "$slave_exe" COM13:9600,N,8,2 1 20 <"$work/in" \
    >"$work/out" 2>/dev/null &
slave_pid=$!
for _ in $(seq 60); do
    grep -q ready "$work/out" 2>/dev/null && break
    sleep 1
done
grep -q ready "$work/out" || fail "the slave did not open COM13"
answers || fail "no answer before the adapter was pulled out"

kill "$socat_pid"
wait "$socat_pid" 2>/dev/null || true
sleep 3
answers && fail "an answer with the adapter pulled out"
plug
# Found gone within about a second, tried again every 3 s.
answered=
for _ in $(seq 6); do
    if answers; then
        answered=yes
        break
    fi
done
[ -n "$answered" ] || fail "no answer once the adapter was plugged back"
echo "serial-replug-test: passed"
