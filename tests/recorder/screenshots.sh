#!/usr/bin/env bash
# Pictures of the error box and the About box as Wine draws them: the agent runs against
# the adapter stand-in on a virtual X display (Xvfb), in a Wine virtual desktop that draws
# the window frames, in a prefix of its own (the tests' prefix keeps its null driver).
# The stand-in attaches the adapter and reports swapped cables; the picture of the error
# box is taken; its OK is pressed, the About box opened from the tray menu's command and
# its picture taken.
#   tests/recorder/screenshots.sh [FOLDER]      default docs/: error-box.png, about-box.png
# Needs Xvfb and ImageMagick's import (scripts/install-deps.sh). Not a test.
set -euo pipefail
cd "$(dirname "$0")/../.."
OUT=$(cd "${1:-docs}" && pwd)
export BUILD_DIR=${BUILD_DIR:-$PWD/build}
BUILD_DIR=$(cd "$BUILD_DIR" && pwd)
command -v Xvfb >/dev/null && command -v import >/dev/null || { echo "Xvfb and import are missing" >&2; exit 1; }
cmake --build "$BUILD_DIR" -j 2 --target OrvinAdapterSim OrvinAgent OrvinAppCtl DialogProbe >/dev/null

export ORVIN_WINEPREFIX=$BUILD_DIR/wineprefix-screenshots
SHOTS=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 900x650x24 -nolisten tcp 3>"$SHOTS/display" >"$SHOTS/xvfb.out" 2>&1 &
XVFB=$!
stop_all() {
    "$BUILD_DIR/wine-run" --stop || true
    kill "$XVFB" 2>/dev/null || true
    wait "$XVFB" 2>/dev/null || true
    rm -rf "$SHOTS"
}
trap stop_all EXIT # until the helpers' own clean-up takes over (below)
for _ in $(seq 150); do
    grep -q '^[0-9]' "$SHOTS/display" 2>/dev/null && break
    sleep 0.1
done
DISPLAY_NUM=$(head -n 1 "$SHOTS/display")
[ -n "$DISPLAY_NUM" ] || { echo "Xvfb gave no display" >&2; exit 1; }

"$BUILD_DIR/wine-run" --start
# The runner the test helpers use: the build's runner's prefix and settings, on the display.
cat >"$SHOTS/wine-x" <<RUNNER
#!/usr/bin/env bash
export \$("$BUILD_DIR/wine-run" --env)
export WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64 DISPLAY=":$DISPLAY_NUM"
exec setarch -R wine "\$@"
RUNNER
chmod +x "$SHOTS/wine-x"
export WINE_RUN=$SHOTS/wine-x
PREFIX_DIR=$ORVIN_WINEPREFIX
MARLETT=/usr/share/wine/fonts/marlett.ttf
if [ -f "$MARLETT" ] && [ ! -f "$PREFIX_DIR/drive_c/windows/Fonts/marlett.ttf" ]; then
    cp "$MARLETT" "$PREFIX_DIR/drive_c/windows/Fonts/"
fi
"$WINE_RUN" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >/dev/null 2>&1
"$WINE_RUN" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shot /d 900x650 /f >/dev/null 2>&1
"$WINE_RUN" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shot /f >/dev/null 2>&1

source tests/recorder/system/recorder-lib.sh
# The helpers' clean-up kills what was started (Xvfb too) and then stops the prefix's server.
STARTED[xvfb]=$XVFB
stop_prefix() {
    "$BUILD_DIR/wine-run" --stop || true
    rm -rf "$SHOTS"
}
at_exit stop_prefix
recorder_registry
reg_add "$ROOT_KEY" /v ProductName /d "Orvin Phone Adapter"
reg_add "$ROOT_KEY" /v ProviderName /d Velcora
reg_add "$ROOT_KEY" /v ProviderURL /d "http://www.example.com/orvin"
reg_add "$ROOT_KEY" /v AppProviderName /d "Velcora Ltd"
reg_add "$ROOT_KEY" /v SWVersion /d 2.1.7
start_fed_service
start_agent agent
sim "wait-agent timeout=60000" 90
sim "expect AGENT_EVENT NotifyAgentStatus info=1 timeout=10000"
sim "send HW_EVENT NOTIFY_OPEN_DEVICE"
sim "send HW_EVENT NOTIFY_JACK_SWAP info=1"

# snap NAME TITLE: the dialog TITLE and a margin around it, from the display.
snap() {
    probe "$1" wait "$2" 20000
    sleep 1.5 # drawn
    local rect left top right bottom
    rect=$(value_of "$1.out" rect)
    IFS=, read -r left top right bottom <<<"$rect"
    left=$((left > 40 ? left - 40 : 0))
    top=$((top > 30 ? top - 30 : 0))
    right=$((right + 40 < 900 ? right + 40 : 900))
    bottom=$((bottom + 30 < 650 ? bottom + 30 : 650))
    DISPLAY=":$DISPLAY_NUM" import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage \
        "$OUT/$1.png"
    echo "saved $OUT/$1.png"
}
snap error-box "Orvin Adapter"
probe press press "Orvin Adapter" 1
probe gone gone "Orvin Adapter" 5000
probe about-command command OrvinAgent 32773
snap about-box "About OrvinAgent"
probe press-about press "About OrvinAgent" 1
shutdown_agent
expect_status agent 0 30
end_feed service
expect_status service 0 30
