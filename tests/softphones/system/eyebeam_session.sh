#!/usr/bin/env bash
# The telephone as an EyeBeam handset: the agent (softphone type 4) with the adapter
# stand-in and EyeBeamSim, each playing its half of the demo session: a call rings the
# telephone (call id 1000 and the time) and is answered on the handset, keys 4 and 2 reach
# EyeBeam, the handset hangs up; a second call is ended by the caller; 555 is keyed and
# dialled with the send key; a call rings that nobody answers (EyeBeam's ringing stops);
# a lone star is the service's. Then EyeBeam says goodbye and ends: the agent detaches and
# tells the service; a new EyeBeam announces that its API is available, the agent
# attaches again and a call works. The service hears NotifyAgentStatus 0, 1, 1, 4, 2, 1,
# and at the agent's shutdown 2 and 3, in this order.
source "$(dirname "$0")/softphones-lib.sh"

agent_registry 0000c0005f000000 # EyeBeam
{
    cat "$DEMO/demo-service-eyebeam.txt"
    cat <<'SCRIPT'
# EyeBeam goes away and a new one comes.
expect AGENT_EVENT NotifyAgentStatus info=2 timeout=60000
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=60000
expect CALL_EVENT CALL_STATUS_RINGING info=1000 timeout=30000
send HW_EVENT NOTIFY_HOOK_STATE info=0
send CALL_EVENT CALL_STATUS_INPROGRESS info=1000
expect CALL_EVENT CALL_STATUS_INPROGRESS info=1000
send HW_EVENT NOTIFY_HOOK_STATE info=1
send CALL_EVENT CALL_STATUS_FINISHED info=1000
expect CALL_EVENT CALL_STATUS_FINISHED info=1000
# The agent's shutdown.
expect AGENT_EVENT NotifyAgentStatus info=2 timeout=60000
expect AGENT_EVENT NotifyAgentStatus info=3
SCRIPT
} >"$WORK/service.txt"
{
    cat "$DEMO/demo-eyebeam.txt"
    echo "detach"
} >"$WORK/eyebeam.txt"
cat >"$WORK/eyebeam2.txt" <<'SCRIPT'
available
attach timeout=30000
sleep 1000
send 0 4
expect 0 5 timeout=30000
send 0 5
expect 1 13 info=17 timeout=30000
expect 0 9 timeout=30000
send 0 9
SCRIPT

start_service service "$(winpath "$WORK/service.txt")"
start_softphone eyebeam "$EYEBEAMSIM" OrvinEyeBeamSim
start agent "$AGENT"
expect_status eyebeam 0 120
wait_text trace.txt "CEyebeamApiClient::OnApiServerDisconnect()  NotifyAgentStatus, AgentDisconnectedFromVoip" 30
start_softphone eyebeam2 "$EYEBEAMSIM" OrvinEyeBeamSim
expect_status eyebeam2 0 60
shutdown_agent
expect_status agent 0 30
expect_status service 0 30

expect_text trace.txt "InitializeSoftPhone: SP = 4:  created"
expect_statuses service.log "0 1 1 4 2 1 2 3"
# The ring carries the call id and the time (month, day, hour, minute).
grep -qE "RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_RINGING info=1000 buf3=[0-9]{8} " "$WORK/service.log" ||
    fail "no ring with call id 1000 and the time in service.log"
# What the agent sent EyeBeam, in order, as its event log shows it: the answer, the keys,
# the hang-up key and the end; the digits and the dial; event 900 turning the call placed
# into one in progress and the unanswered one into a finished one.
expect_order trace.txt "[AG-->SF]==>EventType: 0x0, Event:0x5, Info:0x0" "[AG-->SF]==>EventType: 0x1, Event:0x1, Info:0x34" \
    "[AG-->SF]==>EventType: 0x1, Event:0x1, Info:0x32" "[AG-->SF]==>EventType: 0x1, Event:0xd, Info:0x11" \
    "[AG-->SF]==>EventType: 0x0, Event:0x9, Info:0x0" "[AG-->SF]==>EventType: 0x1, Event:0x1, Info:0x35" \
    "[AG-->SF]==>EventType: 0x1, Event:0xd, Info:0x10" "EUSBEvent_RingingOff received: State = 0x2" \
    "EUSBEvent_RingingOff received: State = 0x4"
expect_order service.log "RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_ROUTING info=1000" \
    "RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_INPROGRESS info=1000" "RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_FINISHED info=1000" \
    "RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_RINGING info=1000" "RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_FINISHED info=1000" \
    "RX IMM MSG_TYPE_AGENT_EVENT NotifyAgentStatus info=4"
# The lone star went to the service only.
expect_no_text eyebeam.log "info=42 ('*')"
expect_no_text eyebeam.log "ERROR"
expect_no_text eyebeam2.log "ERROR"
echo "PASS"
