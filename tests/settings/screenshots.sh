#!/usr/bin/env bash
# Pictures of the settings program's pages and of the agent's icon with its tray menu, as
# Wine draws them on a virtual X display (tests/lib/x11-lib.sh: a prefix of its own, a
# desktop with a taskbar). The agent runs against the adapter stand-in with voice
# messages, a greeting and recordings in place; the tray menu's Configure starts the
# settings program, as the installation's MonitorExeName names it.
#   tests/settings/screenshots.sh [FOLDER]   default docs/: tray-menu.png, settings-*.png
# Needs Xvfb and ImageMagick (scripts/install-deps.sh). Not a test.
set -euo pipefail
cd "$(dirname "$0")/../.."
OUT=$(cd "${1:-docs}" && pwd)
export BUILD_DIR=$(cd "${BUILD_DIR:-build}" && pwd)
export WINE_RUN=$BUILD_DIR/wine-run
cmake --build "$BUILD_DIR" -j 2 --target OrvinAgent OrvinSettings OrvinAdapterSim SettingsProbe >/dev/null
source tests/agent/system/agent-lib.sh
source tests/lib/x11-lib.sh
use_work "$BUILD_DIR/Testing/settings/screenshots"
PROBE="$BUILD_DIR/tests/settings/SettingsProbe.exe"
SHEET="OrvinAgent Settings"

x11_start taskbar
agent_registry
# Where an installation has them, as the pages show them.
INSTALL="$ORVIN_WINEPREFIX/drive_c/Program Files/Orvin/VoipAdapter"
RECORDINGS="$ORVIN_WINEPREFIX/drive_c/users/Public/Documents/Recordings"
mkdir -p "$INSTALL/IVR/VoiceMail" "$RECORDINGS" "$ORVIN_WINEPREFIX/drive_c/OrvinAgent"
cp -r data/IVR/English "$INSTALL/IVR/"
cp "$BUILD_DIR/src/settings/OrvinSettings.exe" "$INSTALL/"
reg_add "$ROOT_KEY" /v SoftwareInstallationFolder /d 'C:\Program Files\Orvin\VoipAdapter'
reg_add "$TRACE_KEY" /v DebugFile /d 'C:\OrvinAgent\OrvinAgent.trace'
reg_add "$ROOT_KEY" /v MonitorExeName /d OrvinSettings
reg_add "$ROOT_KEY\\Config\\UI" /v Enable /t REG_DWORD /d 0
reg_add "$ROOT_KEY\\Config\\IVR" /v SupportedLanguages /d English
reg_add "$ROOT_KEY\\Config\\IVR" /v Pin /d 2580
reg_add "$ROOT_KEY\\Config\\IVR" /v VoiceMessageWaiting /t REG_DWORD /d 2
reg_add "$ROOT_KEY\\Config\\IVR" /v VoiceMsgDurationSec /t REG_DWORD /d 30
reg_add "$ROOT_KEY\\Config\\IVR" /v AMGreetingDurationSec /t REG_DWORD /d 20
reg_add "$ROOT_KEY\\Config\\IVR" /v RecordGreetingOnPound /t REG_DWORD /d 1
reg_add "$ROOT_KEY\\Config\\IVR\\Pstn" /v EnableAdminMode /t REG_DWORD /d 1
reg_add "$ROOT_KEY\\Recorder" /v Directory /d 'C:\users\Public\Documents\Recordings'
# wav FILE SECONDS RATE WHEN: a tone of that length, written at that time.
wav() {
    sox -n -r "$3" -c 1 -b 16 "$1" synth "$2" sine 440 vol 0.3 2>/dev/null
    touch -d "$4" "$1"
}
wav "$INSTALL/IVR/VoiceMail/vm2026311918.wav" 12 8000 "2026-03-11 09:18"
wav "$INSTALL/IVR/VoiceMail/vm20263121422.wav" 31 8000 "2026-03-12 14:22"
wav "$INSTALL/IVR/VoiceMail/vm20263131755.wav" 7 8000 "2026-03-13 17:55"
wav "$INSTALL/IVR/English/UserAMGreeting.wav" 9 8000 "2026-03-02 20:41"
wav "$RECORDINGS/2026_3_10__11_02_40.wav" 95 9600 "2026-03-10 11:04"
wav "$RECORDINGS/2026_3_12__16_30_05.wav" 242 9600 "2026-03-12 16:34"

start_service_fed
start agent "$AGENT"
service "wait-agent timeout=60000"
service "expect AGENT_EVENT NotifyAgentStatus info=1 timeout=20000"
"$WINE_RUN" "$PROBE" --process OrvinAgent.exe tray-shown 30000 >/dev/null
sleep 1

# crop NAME LEFT TOP RIGHT BOTTOM: that part of the display, a margin around it.
crop() {
    local left=$(($2 > 20 ? $2 - 20 : 0)) top=$(($3 > 20 ? $3 - 20 : 0))
    local right=$(($4 + 20 < 900 ? $4 + 20 : 900)) bottom=$(($5 + 20 < 650 ? $5 + 20 : 650))
    x11_shot "$WORK/screen.png"
    convert "$WORK/screen.png" -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$OUT/$1.png"
    echo "saved $OUT/$1.png"
}

"$WINE_RUN" "$PROBE" --process OrvinAgent.exe tray-click right
"$WINE_RUN" "$PROBE" --process OrvinAgent.exe menu 10000 >/dev/null
sleep 1
crop tray-menu 660 520 900 650
# Configure: the agent starts the settings program.
"$WINE_RUN" "$PROBE" --process OrvinAgent.exe menu-key c
"$WINE_RUN" "$PROBE" wait "$SHEET" 30000 >"$WORK/sheet.out"
IFS=, read -r left top right bottom <<<"$(value_of sheet.out rect)"
for page in 0:softphone 1:answering 2:messages 3:greeting 4:recordings 5:diagnostics; do
    "$WINE_RUN" "$PROBE" page "$SHEET" "${page%%:*}"
    sleep 1.5
    crop "settings-${page#*:}" "$left" "$top" "$right" "$bottom"
done
"$WINE_RUN" "$PROBE" click "$SHEET" 2
"$WINE_RUN" "$PROBE" --process OrvinAgent.exe tray-click right
"$WINE_RUN" "$PROBE" --process OrvinAgent.exe menu 10000 >/dev/null
"$WINE_RUN" "$PROBE" --process OrvinAgent.exe menu-key x
expect_status agent 0 30
end_service
