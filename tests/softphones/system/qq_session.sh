#!/usr/bin/env bash
# The telephone as a QQ handset: the agent (softphone type 1) with the adapter stand-in
# and QQSim, each playing its half of the demo session: alice's call rings the telephone
# with her name and handle and is answered on the handset, keys 4 and 2 stay with the
# agent (QQ takes no keys), the handset hangs up; bob's call is ended by bob; 555 is keyed
# and sent with the send key (tag 1) and QQ places the call; voice messages wait and the
# lifted handset hears the message-waiting signal twice. Then 12 is keyed (tag 3), a lone
# star is the service's, and QQ shuts down: the agent detaches and tells the service; a
# new QQ announces that its API is available, the agent attaches again and a call works.
# The service hears NotifyAgentStatus 0, 10, 1, 1, 10, 4, 2, 1, and at the agent's
# shutdown 2 and 3, in this order.
source "$(dirname "$0")/softphones-lib.sh"

agent_registry 0000003055000000 # QQ
{
    cat "$DEMO/demo-service-qq.txt"
    cat <<'SCRIPT'
# A two-digit number, and a lone star with no call.
send HW_EVENT NOTIFY_HOOK_STATE info=0
send HW_EVENT NOTIFY_DTMF_KEY info='1'
send HW_EVENT NOTIFY_DTMF_KEY info='2'
send HW_EVENT NOTIFY_DTMF_KEY info='*'
send HW_EVENT NOTIFY_DTMF_KEY info='*'
expect AGENT_EVENT NotifyAgentStatus info=4
send HW_EVENT NOTIFY_HOOK_STATE info=1
# QQ shuts down and a new one comes.
expect AGENT_EVENT NotifyAgentStatus info=2 timeout=60000
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=60000
expect CALL_EVENT CALL_STATUS_RINGING info=91 buf1=carol timeout=30000
send HW_EVENT NOTIFY_HOOK_STATE info=0
send CALL_EVENT CALL_STATUS_INPROGRESS info=91
expect CALL_EVENT CALL_STATUS_INPROGRESS info=91
send HW_EVENT NOTIFY_HOOK_STATE info=1
send CALL_EVENT CALL_STATUS_FINISHED info=91
expect CALL_EVENT CALL_STATUS_FINISHED info=91
# The agent's shutdown.
expect AGENT_EVENT NotifyAgentStatus info=2 timeout=60000
expect AGENT_EVENT NotifyAgentStatus info=3
SCRIPT
} >"$WORK/service.txt"
{
    cat "$DEMO/demo-qq.txt"
    cat <<'SCRIPT'
expect 13 3:text:12 timeout=30000
sleep 1000
send 18
expect 10 6:u32:0 timeout=5000
SCRIPT
} >"$WORK/qq.txt"
cat >"$WORK/qq2.txt" <<'SCRIPT'
available
attach timeout=30000
expect 10 timeout=10000
send 19 8:byte:2 9:u32:91 10:textz:carol
expect 12 7:byte:145 timeout=30000
send 19 8:byte:4 9:u32:91
expect 12 7:byte:146 timeout=30000
send 19 8:byte:6 9:u32:91
SCRIPT

start_service service "$(winpath "$WORK/service.txt")"
start_softphone qq "$QQSIM" OrvinQQSim
start agent "$AGENT"
expect_status qq 0 120
wait_text trace.txt "QQApiClient::OnApiServerDisconnect()  NotifyAgentStatus, AgentDisconnectedFromVoip" 30
start_softphone qq2 "$QQSIM" OrvinQQSim
expect_status qq2 0 60
shutdown_agent
expect_status agent 0 30
expect_status service 0 30

expect_text trace.txt "InitializeSoftPhone: SP = 1:  created"
expect_statuses service.log "0 10 1 1 10 4 2 1 2 3"
grep -qE "RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_RINGING info=77 buf1=alice buf3=[0-9]{8} " "$WORK/service.log" ||
    fail "no ring with alice's handle, name and the time in service.log"
# Keys during a call reach no one; the number goes whole, once.
expect_text trace.txt "HwEvent: MSG_TYPE_HW_EVENT: NOTIFY_DTMF_KEY, 52"
expect_count qq.log "] RX event=13 " 2
expect_no_text qq.log "] RX event=13 1:text:42"
expect_order qq.log "] RX event=12 7:byte:145" "] RX event=12 7:byte:146" "] RX event=12 7:byte:145" \
    "] RX event=13 1:text:555" "] RX event=13 3:text:12" "] TX event=18"
# The message-waiting signal: twice, the second 100 ms after the first.
expect_count service.log "RX IMM MSG_TYPE_AGENT_EVENT PlaybackSignalRequest info=1" 2
expect_no_text qq.log "ERROR"
expect_no_text qq2.log "ERROR"
echo "PASS"
