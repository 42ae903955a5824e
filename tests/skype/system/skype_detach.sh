#!/usr/bin/env bash
# Skype going away and hanging, with the agent, the adapter stand-in and the Skype
# stand-in: Skype's API becomes unavailable (attach status 3) during a call, and the
# agent sends exactly what it still must (the call finished, the audio devices back to
# Skype's own), which the stand-in takes from the window that had attached; Skype is
# available again and the agent attaches anew; then Skype hangs for a minute, and the
# agent, whose sends to it give up, finds it gone by its pings within half a minute and
# tells the service.
source "$(dirname "$0")/../../agent/system/agent-lib.sh"

SKYPESIM="$BUILD_DIR/tools/SkypeSim/SkypeSim.exe"
agent_registry 000000c021000000 # Skype

cat >"$WORK/service.txt" <<'SCRIPT'
wait-agent timeout=30000
expect AGENT_EVENT NotifyAgentStatus info=0
send HW_EVENT NOTIFY_OPEN_DEVICE
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=30000
expect CALL_EVENT CALL_STATUS_INPROGRESS info=7 timeout=30000
expect AGENT_EVENT NotifyAgentStatus info=2 timeout=30000   # the API is not available
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=60000   # attached again: its contact's status
# Skype hangs two seconds later: three pings, the first 10 s after the attach, find it.
expect AGENT_EVENT NotifyAgentStatus info=2 timeout=45000
expect AGENT_EVENT NotifyAgentStatus info=3 timeout=120000
SCRIPT

cat >"$WORK/skype.txt" <<'SCRIPT'
answer get skypeversion => SKYPEVERSION 3.8.0.188
answer protocol 5 => PROTOCOL 5
answer get userstatus => USERSTATUS ONLINE
answer search friends => USERS alice
answer get user * onlinestatus => USER $1 ONLINESTATUS ONLINE
answer ping => PONG
attach success timeout=60000
expect-command search friends timeout=10000
notify CALL 7 STATUS ROUTING
notify CALL 7 STATUS INPROGRESS
sleep 2000
attach unavailable
expect-command "set call 7 status finished" timeout=10000
expect-command "set audio_in " timeout=10000
expect-command "set audio_out " timeout=10000
sleep 1000
attach available
attach success timeout=30000
expect-command search friends timeout=10000
sleep 2000
hang 60000
sleep 61000
SCRIPT

start_service service "$(winpath "$WORK/service.txt")"
start skype "$SKYPESIM" --log "$(winpath "$WORK/skype.log")" "$(winpath "$WORK/skype.txt")"
start agent "$AGENT"
# The second detach: Skype hangs.
wait_text skype.log "] hang: the window takes no message for 60000 ms" 120
deadline=$((SECONDS + 60))
until [ "$(count_text trace.txt "NotifyAgentStatus, info:2,")" = 2 ]; do
    [ $SECONDS -lt $deadline ] || fail "the agent did not find the hung Skype gone within 60 s"
    sleep 0.5
done
expect_text trace.txt "DispatchMessageToSkype: Skype did not take the message"
"$WINE_RUN" "$APPCTL" shutdown 2 </dev/null >"$WORK/appctl.out" 2>&1 || fail "OrvinAppCtl shutdown 2 failed"
expect_status agent 0 30
expect_status service 0 30
expect_status skype 0 90

# Between "not available" and "available": exactly the call's end and the two devices.
tr -d '\r' <"$WORK/skype.log" |
    awk '/\] attach unavailable to /{on = 1; next} /\] attach available/{on = 0} on && /\] RX /' |
    sed 's/.*\] RX //' | grep -vx ping >"$WORK/after-unavailable.txt" || true
printf '%s\n' "set call 7 status finished" "set audio_in " "set audio_out " >"$WORK/expected.txt"
diff "$WORK/expected.txt" "$WORK/after-unavailable.txt" >/dev/null ||
    fail "after attach status 3 Skype got: $(cat "$WORK/after-unavailable.txt")"
expect_no_text skype.log "ERROR"
echo "PASS"
