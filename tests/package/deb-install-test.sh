#!/bin/bash
# Installs a PelMBus .deb into a scratch root (dpkg -x), checks what it puts
# where, then starts the installed program offscreen, closes it as its close
# button would (SIGTERM) and checks the two files it writes beside itself.
#   tests/package/deb-install-test.sh pelmbus_X_amd64.deb
set -euo pipefail
deb=$(realpath "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "deb-install-test: $*" >&2; exit 1; }

dpkg -x "$deb" "$scratch"
dpkg-deb -e "$deb" "$scratch/DEBIAN"
opt=$scratch/opt/pelmbus
[ -x "$opt/PelMBus" ] || fail "no /opt/pelmbus/PelMBus"
[ -x "$opt/pelsim" ] || fail "no /opt/pelmbus/pelsim"
for name in ru.pel.Pel ru.pel.CltPel; do
    service=$scratch/usr/share/dbus-1/services/$name.service
    grep -qx "Exec=/opt/pelmbus/pelsim --program .*" "$service" ||
        fail "$name.service does not start /opt/pelmbus/pelsim"
done
grep -qx "Exec=/opt/pelmbus/PelMBus" "$scratch/usr/share/applications/pelmbus.desktop" ||
    fail "no desktop entry"
[ -f "$scratch/usr/share/icons/hicolor/256x256/apps/pelmbus.png" ] || fail "no icon"
grep -q "chmod 2775 /opt/pelmbus" "$scratch/DEBIAN/postinst" || fail "no group-writable directory"
dpkg-deb -f "$deb" Depends | grep -q "libqt6widgets6" || fail "Depends lacks Qt"

# A port that does not exist: the program starts, shows its window and
# keeps running until it is closed.
printf 'Настройка_COM_порта=/nonexistent/tty:9600,N,8,2\r\n' | iconv -f UTF-8 -t CP1251 \
    >"$opt/CfgMBus.txt"
QT_QPA_PLATFORM=offscreen "$opt/PelMBus" &
pid=$!
sleep 3
kill -0 "$pid" 2>/dev/null || fail "PelMBus ended by itself"
kill -TERM "$pid"
for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$pid" 2>/dev/null && { kill -KILL "$pid"; fail "PelMBus did not close"; }
wait "$pid" || fail "PelMBus exited with an error"
[ -f "$opt/RegData.mrd" ] || fail "RegData.mrd not written at close"
grep -q "Задержка_ответа" <(iconv -f CP1251 -t UTF-8 "$opt/CfgMBus.txt") ||
    fail "CfgMBus.txt not rewritten whole at close"
echo "deb-install-test: passed"
