#!/usr/bin/env bash
# Starts PelMBus under Xvfb and saves a screenshot of each tab, and one of
# the data-kind choice, as PNG files in the given directory (default
# build/screenshots). Not part of scripts/test: it is for looking at.
set -euo pipefail
cd "$(dirname "$0")/../.."
out=$(realpath -m "${1:-build/screenshots}")
mkdir -p "$out"
scripts/setup
cmake --preset default >/dev/null
cmake --build --preset default --target PelMBus >/dev/null

# A free display number.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
app_pid=
socat_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null
    kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=":$display"
for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done

# The settings and entries go to a scratch copy of the program's directory.
work=$(mktemp -d)
cp build/default/src/qt/PelMBus "$work/"
printf '178=12,5 = Давление\r\n180=100 = Параметр №1\r\n' | iconv -f UTF-8 -t CP1251 >"$work/RegData.mrd"
# A pseudo-terminal pair: the program serves one end and mbpoll asks on the
# other, so that the exchange monitor has frames to show.
socat pty,raw,echo=0,link="$work/line" pty,raw,echo=0,link="$work/master" 2>/dev/null &
socat_pid=$!
for _ in $(seq 50); do
    [ -e "$work/line" ] && [ -e "$work/master" ] && break
    sleep 0.1
done
printf 'Настройка_COM_порта=%s:9600,N,8,2\r\n' "$work/line" | iconv -f UTF-8 -t CP1251 \
    >"$work/CfgMBus.txt"
QT_QPA_PLATFORM=xcb "$work/PelMBus" &
app_pid=$!
window=$(timeout 20 xdotool search --sync --name 'ModBus v2.20' | head -n 1)
sleep 0.5

shoot() {
    import -window "$window" "$out/$1.png"
    echo "screenshot: $out/$1.png"
}
# Window-relative positions of the tabs and of "Выбор данных" / "Принять".
click() {
    xdotool mousemove --window "$window" "$1" "$2" click 1
    sleep 0.3
}
tab_x=(30 90 145 210)
shoot tab1-settings
click 190 158 # "Выбор данных"
shoot tab1-choice
click 190 180 # "Принять"
# Two requests: one answered, one for another slave that gets no answer.
for slave in 1 7; do
    mbpoll -m rtu -a "$slave" -0 -r 0 -c 2 -1 -o 2 -b 9600 -P none -s 2 "$work/master" \
        >/dev/null 2>&1 || true
done
sleep 0.3
for i in 1 2 3; do
    click "${tab_x[$i]}" 10
    shoot "tab$((i + 1))"
done

kill -TERM "$app_pid"
wait "$app_pid" || true
app_pid=
echo "settings written at close:"
iconv -f CP1251 -t UTF-8 "$work/CfgMBus.txt" | head -n 3
rm -rf "$work"
