#!/usr/bin/env bash
# The agent with the stand-in library's lacking build beside it (no
# TelTel_RegisterIncmingCallCBV2, TelTel_AnswerOrCall, TelTel_Mute or TelTel_Unmute): each
# missing function answers -1 and is traced, and the agent goes on: TelTel becomes ready,
# the service's answer, hold and hang-up requests are taken (the hang-up reaches TelTel),
# and the agent ends as usual.
source "$(dirname "$0")/teltel-lib.sh"

agent_registry "$TELTEL_RECORD"
install_agent teltel-lacking "$TELTEL_LACKING_LIBRARY"

cat >"$WORK/service.txt" <<'SCRIPT'
wait-agent timeout=30000
expect AGENT_EVENT NotifyAgentStatus info=0
expect AGENT_EVENT NotifyAgentStatus info=10
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=20000
send CALL_EVENT CALL_STATUS_INPROGRESS info=1
send CALL_EVENT CALL_STATUS_LOCALHOLD info=1
send CALL_EVENT CALL_STATUS_FINISHED info=1
expect AGENT_EVENT NotifyAgentStatus info=2 timeout=120000
expect AGENT_EVENT NotifyAgentStatus info=3 timeout=10000
SCRIPT

cat >"$WORK/teltel.txt" <<'SCRIPT'
wait-library timeout=30000
expect TelTel_Register *
expect TelTel_RegisterInCallCBV2 * *
ready
expect TelTel_IsTelTelReady result=1 timeout=10000
expect TelTel_HangupOrReject timeout=20000
expect TelTel_Unregister * timeout=120000
SCRIPT

start_service service "$(winpath "$WORK/service.txt")"
start_teltel teltel "$(winpath "$WORK/teltel.txt")"
start agent "$AGENT_WIN"
wait_text teltel.log "done: expect TelTel_HangupOrReject" 120
shutdown_agent
expect_status agent 0 30
expect_status service 0 30
expect_status teltel 0 30

expect_no_text teltel.log "13 functions"
expect_text teltel.log "9 functions; lacking TelTel_RegisterIncmingCallCBV2, TelTel_AnswerOrCall, TelTel_Mute, TelTel_Unmute"
expect_order trace.txt "CTelTelApiWrapper - TelTel_RegisterIncmingCallCBV2 is not available: -1" \
    "CTelTelApiWrapper::Answer" "CTelTelApiWrapper - TelTel_AnswerOrCall is not available: -1" \
    "CTelTelApiWrapper::Mute" "CTelTelApiWrapper - TelTel_Mute is not available: -1" \
    "CTelTelApiWrapper::Hangup"
expect_count trace.txt "CTelTelApiWrapper::GetFunc - Creating new function TelTel_AnswerOrCall" 1
echo "PASS"
