#!/usr/bin/env bash
# The agent's icon in the notification area, as a user sees it: the agent (user
# interface off, its dialog never shown) against the adapter stand-in, on a virtual X
# display in a Wine desktop whose notification area shows exactly while it holds an icon
# (tests/lib/x11-lib.sh). The icon's colour on
# the screen is the status icon of the moment (make-icons.py: green connected, red
# off-hook, grey no adapter); it is added at the start, follows every change, and goes
# with the agent. A right click on it opens the tray menu: its Configure starts the
# program MonitorExeName names in the installation folder (the settings program), its
# Exit ends the agent.
source "$(dirname "$0")/agent-lib.sh"
source "$(dirname "$0")/../../lib/x11-lib.sh"
use_work "$BUILD_DIR/Testing/agent-system/$(basename "$0" .sh)"

PROBE="$BUILD_DIR/tests/settings/SettingsProbe.exe"
GREEN='#28A03C' RED='#C82828' GREY='#808080'

# icon_colours: the colours of the first icon's square on the screen, one a line.
icon_colours() {
    x11_shot "$WORK/screen.png"
    local left top right bottom
    IFS=, read -r left top right bottom <<<"$ICON"
    convert "$WORK/screen.png" -crop "$((right - left))x$((bottom - top))+$left+$top" -format %c histogram:info:- |
        grep -o '#[0-9A-F]\{6\}'
}
# icon COLOUR: until the icon shows that colour.
icon() {
    local deadline=$((SECONDS + 20)) seen
    while :; do
        seen=$(icon_colours)
        grep -qx "$1" <<<"$seen" && return 0
        [ $SECONDS -lt $deadline ] || fail "the icon is not $1 within 20 s (colours: $(tr '\n' ' ' <<<"$seen"))"
        sleep 0.3
    done
}

x11_start
agent_registry
reg_add "$ROOT_KEY\\Config\\UI" /v Enable /t REG_DWORD /d 0
mkdir -p "$WORK/install"
cp "$BUILD_DIR/src/settings/OrvinSettings.exe" "$WORK/install/"
reg_add "$ROOT_KEY" /v SoftwareInstallationFolder /d "$(winpath "$WORK/install")"
reg_add "$ROOT_KEY" /v MonitorExeName /d OrvinSettings
# tray-shown|tray-hidden: the notification area holds an icon, or none, within 30 s.
tray() {
    run "$1" 60 "$PROBE" "$1" 30000
    [ "$STATUS" = 0 ] || fail "the notification area is not ${1#tray-} within 30 s"
}
tray tray-hidden

start_service_fed
start agent "$AGENT"
service "wait-agent timeout=60000"
service "expect AGENT_EVENT NotifyAgentStatus info=1 timeout=20000"
tray tray-shown
ICON=$(value_of tray-shown.out icon)
icon "$GREEN"
service "send HW_EVENT NOTIFY_HOOK_STATE info=0"
icon "$RED"
service "send HW_EVENT NOTIFY_HOOK_STATE info=1"
icon "$GREEN"
service "send HW_EVENT NOTIFY_CLOSE_DEVICE"
icon "$GREY"
service "send HW_EVENT NOTIFY_OPEN_DEVICE"
icon "$GREEN"

# menu KEY: a right click on the icon opens the menu; KEY chooses an entry.
menu() {
    run click 30 "$PROBE" --process OrvinAgent.exe tray-click right
    run menu 30 "$PROBE" --process OrvinAgent.exe menu 10000
    [ "$STATUS" = 0 ] || fail "a right click on the icon opened no menu"
    run key 30 "$PROBE" --process OrvinAgent.exe menu-key "$1"
}
menu c
run settings 60 "$PROBE" wait "OrvinAgent Settings" 30000
[ "$STATUS" = 0 ] || fail "Configure did not start the settings program"
run close 30 "$PROBE" click "OrvinAgent Settings" 2
menu x
expect_status agent 0 30
expect_order trace.txt "OrvinAgent Application InitInstance() CleanUp!" "OrvinAgent Application InitInstance() Finished!"
tray tray-hidden
end_service
echo "PASS"
