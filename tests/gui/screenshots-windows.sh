#!/bin/bash
# Screenshots of PelMBus.exe under Wine on a virtual X display: each of the
# four tabs and the data-kind choice, at 96 DPI and at 125 % and 150 %.
#
#   tests/gui/screenshots-windows.sh PelMBus.exe OUTPUT_DIR [DPI...]
#
# The program runs from a scratch copy (its files are written beside it), on
# a port that does not exist. The tabs are chosen with real mouse clicks at
# the scaled design positions. Uses WINEPREFIX when set, else a prefix beside
# the output directory; WINE names the wine loader (default: wine, or wine64
# for a 64-bit program where a 32-bit wine cannot run).
set -euo pipefail

# On a virtual X server of its own, which ends with the script.
if [ -z "${PELMBUS_SCREENSHOTS_ON_XVFB:-}" ]; then
    exec env PELMBUS_SCREENSHOTS_ON_XVFB=1 "$(dirname "$0")/../win32/with-xvfb.sh" "$0" "$@"
fi

exe=$(realpath "$1")
out=$(realpath -m "$2")
shift 2
dpis=("$@")
[ ${#dpis[@]} -gt 0 ] || dpis=(96 120 144)

mkdir -p "$out"
export WINEPREFIX=${WINEPREFIX:-$(dirname "$out")/wineprefix-screens}
export WINEDEBUG=-all WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
if [ -z "${WINE:-}" ]; then
    WINE=wine
    if file "$exe" | grep -q x86-64 && [ -x /usr/lib/wine/wine64 ]; then
        WINE=/usr/lib/wine/wine64
    fi
fi
WINESERVER=${WINESERVER:-wineserver}
[ -x /usr/lib/wine/wineserver ] && WINESERVER=/usr/lib/wine/wineserver

work=$(mktemp -d)
cleanup() {
    timeout 20 "$WINESERVER" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

if [ ! -d "$WINEPREFIX" ]; then
    timeout 300 "$WINE" wineboot -i >/dev/null 2>&1 || true
    timeout 120 "$WINESERVER" -w || true
fi

# Id and geometry ("x y") of the main window; empty until it is mapped.
window_id() {
    xwininfo -root -tree 2>/dev/null | awk '/"Модуль ModBus v2.20"/ {print $1; exit}'
}
origin() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} END {print x, y}'
}
shoot() { # file
    import -window "$id" "$1"
}
click() { # design x, design y (client coordinates at 96 DPI)
    xdotool mousemove $((ox + $1 * dpi / 96)) $((oy + $2 * dpi / 96)) click 1
    sleep 1.5
}

for dpi in "${dpis[@]}"; do
    timeout 20 "$WINESERVER" -k 2>/dev/null || true
    sleep 0.5
    timeout 60 "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
        /d "$dpi" /f >/dev/null 2>&1
    timeout 60 "$WINE" reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
        /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    timeout 20 "$WINESERVER" -k 2>/dev/null || true
    sleep 0.5

    rm -rf "$work/run"
    mkdir -p "$work/run"
    cp "$exe" "$work/run/PelMBus.exe"
    (cd "$work/run" && timeout 120 "$WINE" PelMBus.exe >/dev/null 2>&1) &
    id=
    for _ in $(seq 300); do
        id=$(window_id)
        [ -n "$id" ] && break
        sleep 0.1
    done
    [ -n "$id" ] || { echo "PelMBus.exe showed no window at $dpi DPI" >&2; exit 1; }
    # Wine paints the first frame in steps: give it time to settle.
    sleep 3
    read -r ox oy < <(origin "$id")

    suffix=""
    [ "$dpi" = 96 ] || suffix="-${dpi}dpi"
    shoot "$out/windows-settings$suffix.png"
    click 95 10
    shoot "$out/windows-exchange$suffix.png"
    click 155 10
    shoot "$out/windows-manual$suffix.png"
    click 215 10
    shoot "$out/windows-inspector$suffix.png"
    click 30 10
    # "Выбор данных" on the settings tab.
    click 184 166
    shoot "$out/windows-data-kinds$suffix.png"
    echo "$dpi DPI: screenshots taken"
done
