#!/usr/bin/env bash
# The telephone as a Skype handset: the agent with the adapter stand-in and the Skype
# stand-in, each playing its part of the demo session (a contact's call rings the
# telephone with speed dial and handle and is answered, two keys reach the far end, the
# handset hangs up, a number is dialled, a voicemail is played). Both scripts must meet
# every expectation; then a standby query during a call is refused, and Skype vanishing
# detaches the agent after its unanswered pings.
source "$(dirname "$0")/../../agent/system/agent-lib.sh"

SKYPESIM="$BUILD_DIR/tools/SkypeSim/SkypeSim.exe"
DEMO="$(cd "$(dirname "$0")/../../../data/demo" && pwd)"
agent_registry 000000c021000000 # Skype

start_service service "$(winpath "$DEMO/demo-service-skype.txt")"
start skype "$SKYPESIM" --log "$(winpath "$WORK/skype.log")" "$(winpath "$DEMO/demo-skype.txt")"
start agent "$AGENT"
expect_status service 0 120
expect_status skype 0 120
expect_text trace.txt "API server connected!"
expect_text trace.txt "[AG-->SF]==>SET CALL 1001 Status inprogress"
expect_text trace.txt "[AG-->SF]==>BTN_PRESSED 4"
expect_text trace.txt "[AG-->SF]==>CALL 555"
expect_text trace.txt "[AG-->SF]==>Open Voicemail 101"
"$WINE_RUN" "$APPCTL" shutdown 2 </dev/null >"$WORK/appctl.out" 2>&1 || fail "OrvinAppCtl shutdown 2 failed"
expect_status agent 0 30

# A call in progress refuses standby, and holds the system awake; Skype then goes away.
agent_registry 000000c021000000
cat >"$WORK/call-service.txt" <<'SCRIPT'
wait-agent timeout=30000
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=30000
expect CALL_EVENT CALL_STATUS_INPROGRESS info=7 timeout=30000
expect AGENT_EVENT NotifyAgentStatus info=2 timeout=60000
expect AGENT_EVENT NotifyAgentStatus info=3 timeout=60000
SCRIPT
cat >"$WORK/call-skype.txt" <<'SCRIPT'
answer get userstatus => USERSTATUS ONLINE
answer protocol 5 => PROTOCOL 5
answer search friends => USERS
attach success timeout=60000
expect-command search friends timeout=10000
notify CALL 7 STATUS ROUTING
notify CALL 7 STATUS INPROGRESS
sleep 3000
vanish close=40000
SCRIPT
start_service service2 "$(winpath "$WORK/call-service.txt")"
start skype2 "$SKYPESIM" --log "$(winpath "$WORK/skype2.log")" "$(winpath "$WORK/call-skype.txt")"
start agent2 "$AGENT"
wait_text trace.txt "COrvinApiClient: the system is kept awake" 30
"$WINE_RUN" "$POWER" query-suspend --title MessageOnlyWindowTitle --process OrvinAgent.exe --dismiss \
    </dev/null >"$WORK/power.out" 2>&1 || fail "OrvinPowerEvent failed"
expect_text power.out "answer=0x424D5144"
expect_text trace.txt "COrvinApiClient::OnPowerManagementNotification - Automatically denying request for standby - in call"
# Three pings unanswered (10 s apart): the agent detaches and tells the service.
wait_text trace.txt "CSkypeApiClient::OnApiServerDisconnect()  NotifyAgentStatus, AgentDisconnectedFromVoip" 60
expect_text trace.txt "COrvinApiClient: the system may sleep again"
"$WINE_RUN" "$APPCTL" shutdown 2 </dev/null >"$WORK/appctl2.out" 2>&1 || fail "OrvinAppCtl shutdown 2 failed"
expect_status agent2 0 30
expect_status service2 0 30
stop skype2
echo "PASS"
