#!/bin/bash
# PelMBus.exe under Wine on a COM port mapped to a pseudo-terminal: a
# libmodbus master (mbpoll) reads and writes its registers from Linux, the
# window is closed with WM_CLOSE, and the two files beside the program are
# checked. Runs on a display of its own (tests/win32/with-xvfb.sh).
#   pelmbus-exe-modbus-test.sh PelMBus.exe post_close.exe WINE_RUN [PRELOAD...]
# WINE_RUN runs a Windows program in the prefix WINEPREFIX names; PRELOAD
# names the libraries that let Wine's serial code work on a pseudo-terminal.
set -euo pipefail
: "${WINEPREFIX:?the prefix WINE_RUN uses}"
exe=$(realpath "$1")
post_close=$(realpath "$2")
wine_run=$3
shift 3
preload=$(IFS=:; echo "$*")

work=$(mktemp -d)
socat_pid=
program_pid=
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
    [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "pelmbus-exe-modbus-test: $*" >&2; exit 1; }

socat pty,raw,echo=0,link="$work/com" pty,raw,echo=0,link="$work/master" &
socat_pid=$!
for _ in $(seq 50); do
    [ -e "$work/com" ] && [ -e "$work/master" ] && break
    sleep 0.1
done
[ -e "$work/com" ] || fail "no pseudo-terminal pair"

# COM7 of the prefix is the program's end of the pair; the mapping takes
# effect when the prefix's session starts again.
"$wine_run" reg add 'HKLM\Software\Wine\Ports' /v COM7 /t REG_SZ /d "$work/com" /f >/dev/null
wineserver -k >/dev/null 2>&1 || true

mkdir "$work/station"
cp "$exe" "$work/station/PelMBus.exe"
printf '%s\r\n' "Настройка_COM_порта=COM7:9600,N,8,2" "Номер_slave_устройства=1" \
    "Уставка_усреднения=6" "Уставка_скользящего_усреднения=6" "Цикл_опроса_порта=250" \
    "Задержка_ответа=0" | iconv -f UTF-8 -t CP1251 >"$work/station/CfgMBus.txt"
(cd "$work/station" && LD_PRELOAD="$preload" exec "$wine_run" PelMBus.exe) &
program_pid=$!

# mbpoll: the options, then the device, then the values of a write.
modbus() {
    timeout 20 mbpoll -m rtu -b 9600 -P none -s 2 -d 8 -t 4 -0 -1 -o 2 "$@"
}
# Registers 300 and 301 as the master writes them (function 16), read back
# (function 3).
answered=
# Wine starts slowly on a busy machine: up to a minute.
for _ in $(seq 60); do
    if modbus -a 1 -r 300 "$work/master" 1234 5678 >/dev/null 2>&1; then
        answered=yes
        break
    fi
    sleep 1
done
[ -n "$answered" ] || fail "PelMBus.exe did not answer a write of registers 300 and 301"
# An attempt that timed out while Wine was starting may still be answered;
# its late response would be taken for the answer to the next request. Let
# it come and drop it.
sleep 1
timeout 1 cat "$work/master" >/dev/null || true
read_back=$(modbus -a 1 -r 300 -c 2 "$work/master" | tr -d '\r')
grep -q '^\[300\]:[[:space:]]*1234$' <<<"$read_back" || fail "register 300: $read_back"
grep -q '^\[301\]:[[:space:]]*5678$' <<<"$read_back" || fail "register 301: $read_back"
# Another slave's address gets no answer.
if modbus -a 2 -r 0 "$work/master" >/dev/null 2>&1; then
    fail "PelMBus.exe answered slave 2"
fi

# With PELMBUS_SCREENSHOT_DIR set: the exchange tab with these frames.
if [ -n "${PELMBUS_SCREENSHOT_DIR:-}" ]; then
    id=$(xwininfo -root -tree | awk '/"Модуль ModBus v2.20"/ {print $1; exit}')
    read -r ox oy < <(xwininfo -id "$id" |
        awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} END {print x, y}')
    xdotool mousemove $((ox + 95)) $((oy + 10)) click 1
    sleep 1.5
    mkdir -p "$PELMBUS_SCREENSHOT_DIR"
    import -window "$id" "$PELMBUS_SCREENSHOT_DIR/windows-exchange-frames.png"
fi

rm -f "$work/station/RegData.mrd"
"$wine_run" "$post_close" 30 || fail "WM_CLOSE did not end PelMBus.exe"
wait "$program_pid" || true
program_pid=
[ -f "$work/station/RegData.mrd" ] || fail "RegData.mrd not written at close"
iconv -f CP1251 -t UTF-8 "$work/station/CfgMBus.txt" | tr -d '\r' >"$work/config.txt"
grep -qx "Настройка_COM_порта=COM7:9600,N,8,2" "$work/config.txt" || fail "CfgMBus.txt: port"
grep -qx "Уставка_усреднения=6" "$work/config.txt" || fail "CfgMBus.txt: set point"
[ "$(wc -l <"$work/config.txt")" -eq 17 ] || fail "CfgMBus.txt has not its seventeen lines"
# The journal beside the program: Windows-1251, CR LF, its events in order.
log="$work/station/PelMBus.log"
[ -f "$log" ] || fail "PelMBus.log not written"
[ "$(grep -c $'\r$' "$log")" -eq "$(wc -l <"$log")" ] || fail "PelMBus.log: a line without CR LF"
iconv -f CP1251 -t UTF-8 "$log" | tr -d '\r' | cut -c21- >"$work/journal.txt"
expected=("Запуск: Модуль ModBus v2.20, порт \"COM7:9600,N,8,2\"" "Порт \"COM7:9600,N,8,2\" открыт"
          "Обмен за .*: ответов на запросы [1-9]" "Программа закрыта из окна")
line=0
for pattern in "${expected[@]}"; do
    found=$(tail -n +$((line + 1)) "$work/journal.txt" | grep -n -m1 -- "$pattern" | cut -d: -f1 || true)
    [ -n "$found" ] || fail "PelMBus.log: no \"$pattern\" in order: $(cat "$work/journal.txt")"
    line=$((line + found))
done
echo "pelmbus-exe-modbus-test: passed"
