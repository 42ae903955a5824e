#!/usr/bin/env bash
# The picture of the setup's softphone page, as Wine draws it: the setup runs on a virtual
# X display (Xvfb) in a Wine virtual desktop that draws the window frames, in a prefix of
# its own (made here, removed at the end); SetupProbe.exe clicks it to the page, then on to
# the PIN page, taken where the window stands.
#   tests/installer/screenshot.sh [FOLDER]      default docs/: installer-softphone.png, installer-pin.png
# Needs Xvfb and ImageMagick's import (scripts/install-deps.sh). Not a test.
set -euo pipefail
cd "$(dirname "$0")/../.."
OUT=$(cd "${1:-docs}" && pwd)
BUILD_DIR=$(cd "${BUILD_DIR:-build}" && pwd)
command -v Xvfb >/dev/null && command -v import >/dev/null || { echo "Xvfb and import are missing" >&2; exit 1; }
cmake --build "$BUILD_DIR" -j 2 --target OrvinAgentSetup SetupProbe >/dev/null

export ORVIN_WINEPREFIX=$BUILD_DIR/wineprefix-setup-screenshot
SHOTS=$(mktemp -d)
XVFB=
stop_all() {
    "$BUILD_DIR/wine-run" --stop || true
    timeout 30 env WINEPREFIX="$ORVIN_WINEPREFIX" wineserver -w || true
    [ -z "$XVFB" ] || kill "$XVFB" 2>/dev/null || true
    rm -rf "$SHOTS" "$ORVIN_WINEPREFIX" "$ORVIN_WINEPREFIX.lock"
}
trap stop_all EXIT
rm -rf "$ORVIN_WINEPREFIX"
Xvfb -displayfd 3 -screen 0 900x650x24 -nolisten tcp 3>"$SHOTS/display" >"$SHOTS/xvfb.out" 2>&1 &
XVFB=$!
for _ in $(seq 150); do
    grep -q '^[0-9]' "$SHOTS/display" 2>/dev/null && break
    sleep 0.1
done
DISPLAY_NUM=$(head -n 1 "$SHOTS/display")
[ -n "$DISPLAY_NUM" ] || { echo "Xvfb gave no display" >&2; exit 1; }

"$BUILD_DIR/wine-run" --start
MARLETT=/usr/share/wine/fonts/marlett.ttf
[ ! -f "$MARLETT" ] || cp "$MARLETT" "$ORVIN_WINEPREFIX/drive_c/windows/Fonts/"
# wine_x PROGRAM ARGS...: the build's runner's prefix and settings, on the display.
wine_x() {
    env $("$BUILD_DIR/wine-run" --env) WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64 \
        DISPLAY=":$DISPLAY_NUM" setarch -R wine "$@" </dev/null
}
wine_x reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >/dev/null 2>&1
wine_x reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shot /d 900x650 /f >/dev/null 2>&1
wine_x reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shot /f >/dev/null 2>&1

PROBE="$BUILD_DIR/tests/installer/SetupProbe.exe"
TITLE="OrvinAgent Setup"
wine_x "$BUILD_DIR/OrvinAgentSetup.exe" >/dev/null 2>&1 &
wine_x "$PROBE" wait "$TITLE" "&Next >" 60000 >/dev/null
wine_x "$PROBE" click "$TITLE" "&Next >" >/dev/null
wine_x "$PROBE" wait "$TITLE" "B&rowse..." >/dev/null
wine_x "$PROBE" click "$TITLE" "&Next >" >/dev/null
rect=$(wine_x "$PROBE" wait "$TITLE" "&EyeBeam" | tr -d '\r' | sed -n 's/^rect=//p')
sleep 1.5 # drawn
IFS=, read -r left top right bottom <<<"$rect"
left=$((left > 20 ? left - 20 : 0))
top=$((top > 20 ? top - 20 : 0))
right=$((right + 20 < 900 ? right + 20 : 900))
bottom=$((bottom + 20 < 650 ? bottom + 20 : 650))
DISPLAY=":$DISPLAY_NUM" import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage \
    "$OUT/installer-softphone.png"
echo "saved $OUT/installer-softphone.png"
wine_x "$PROBE" click "$TITLE" "&Next >" >/dev/null
wine_x "$PROBE" wait "$TITLE" "&PIN:" >/dev/null
sleep 1.5 # drawn
DISPLAY=":$DISPLAY_NUM" import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage \
    "$OUT/installer-pin.png"
echo "saved $OUT/installer-pin.png"
