#!/usr/bin/env bash
# The telephone as TelTel's handset: the agent (installed with the stand-in TelTelAPI.DLL
# beside it), the adapter stand-in and TelTel's control program, each with its part of
# one session:
#   1. TelTel becomes ready; a call rings the telephone (TelTel gives no caller data), the
#      handset answers it, hold and off hold mute and unmute, keys during the call reach
#      nobody, the far end hangs up and the telephone is told;
#   2. a call ended on the handset: TelTel hangs up and confirms;
#   3. 555 keyed and the send key: TelTel calls, the service hears ROUTING, INPROGRESS;
#   4. a lone star with no call: NotifyAgentStatus 4;
#   5. voice messages waiting: lifting the handset plays the stutter tone twice;
#   6. TelTel goes away (not ready) and comes back;
#   7. the installer's shutdown: TelTel let go, NotifyAgentStatus 2 and 3, the library's
#      window unregistered, and the agent gone within the installer's wait.
# Both stand-ins' scripts must meet every expectation, and TelTel's control program checks
# every call the agent makes into the library.
source "$(dirname "$0")/teltel-lib.sh"

agent_registry "$TELTEL_RECORD"
install_agent teltel-session "$TELTEL_LIBRARY"

cat >"$WORK/service.txt" <<'SCRIPT'
wait-agent timeout=30000
expect AGENT_EVENT NotifyAgentStatus info=0
expect AGENT_EVENT NotifyAgentStatus info=10
adaptor-info lowcost=0
send HW_EVENT NOTIFY_OPEN_DEVICE
expect AGENT_EVENT NotifyAgentStatus info=10
expect HW_EVENT NOTIFY_JACK_SWAP info=0
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=20000
# 1.
expect CALL_EVENT CALL_STATUS_RINGING info=1 buf1="" buf2="" timeout=20000
send HW_EVENT NOTIFY_HOOK_STATE info=0
send CALL_EVENT CALL_STATUS_INPROGRESS info=1
expect CALL_EVENT CALL_STATUS_INPROGRESS info=1 timeout=20000
send CALL_EVENT CALL_STATUS_LOCALHOLD info=1
send CALL_EVENT CALL_STATUS_OFFHOLD info=1
send HW_EVENT NOTIFY_DTMF_KEY info='4'
send HW_EVENT NOTIFY_DTMF_KEY info='*'
expect CALL_EVENT CALL_STATUS_FINISHED info=1 timeout=20000
send HW_EVENT NOTIFY_HOOK_STATE info=1
# 2.
expect CALL_EVENT CALL_STATUS_RINGING info=1 timeout=20000
send HW_EVENT NOTIFY_HOOK_STATE info=0
send CALL_EVENT CALL_STATUS_INPROGRESS info=1
expect CALL_EVENT CALL_STATUS_INPROGRESS info=1 timeout=20000
send CALL_EVENT CALL_STATUS_FINISHED info=1
expect CALL_EVENT CALL_STATUS_FINISHED info=1 timeout=20000
send HW_EVENT NOTIFY_HOOK_STATE info=1
# 3.
send HW_EVENT NOTIFY_HOOK_STATE info=0
send HW_EVENT NOTIFY_DTMF_KEY info='5'
send HW_EVENT NOTIFY_DTMF_KEY info='5'
send HW_EVENT NOTIFY_DTMF_KEY info='5'
send HW_EVENT NOTIFY_DTMF_KEY info='*'
expect CALL_EVENT CALL_STATUS_ROUTING info=1 timeout=20000
expect CALL_EVENT CALL_STATUS_INPROGRESS info=1 timeout=20000
expect CALL_EVENT CALL_STATUS_FINISHED info=1 timeout=20000
send HW_EVENT NOTIFY_HOOK_STATE info=1
# 4.
send HW_EVENT NOTIFY_HOOK_STATE info=0
send HW_EVENT NOTIFY_DTMF_KEY info='*'
expect AGENT_EVENT NotifyAgentStatus info=4
send HW_EVENT NOTIFY_HOOK_STATE info=1
# 5.
send SM2AGENT_REQUEST 1 info=1
send HW_EVENT NOTIFY_HOOK_STATE info=0
# The stutter tone (1, 4000, 600, 80): four little-endian 32-bit numbers in Buffer1.
expect AGENT_EVENT PlaybackSignalRequest info=1 buf1="\x01\x00\x00\x00\xa0\x0f\x00\x00\x58\x02\x00\x00\x50\x00\x00\x00"
expect AGENT_EVENT PlaybackSignalRequest info=1 buf1="\x01\x00\x00\x00\xa0\x0f\x00\x00\x58\x02\x00\x00\x50\x00\x00\x00"
send HW_EVENT NOTIFY_HOOK_STATE info=1
send SM2AGENT_REQUEST 1 info=0
# 6.
expect AGENT_EVENT NotifyAgentStatus info=2 timeout=20000
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=20000
# 7.
expect AGENT_EVENT NotifyAgentStatus info=2 timeout=120000
expect AGENT_EVENT NotifyAgentStatus info=3 timeout=10000
SCRIPT

cat >"$WORK/teltel.txt" <<'SCRIPT'
wait-library timeout=30000
expect TelTel_Register *
expect TelTel_RegisterInCallCBV2 * *
expect TelTel_RegisterIncmingCallCBV2 * *
expect TelTel_IsTelTelReady result=0 timeout=10000
# TelTel's window messages come back to it through TelTel_WndProc.
post 0x8123 wparam=7 lparam=9
expect TelTel_WndProc 0x8123 7 9
ready
expect TelTel_IsTelTelReady result=1 timeout=10000
# 1.
ring-start value=501 thread=new
expect TelTel_BringToTop timeout=20000
expect TelTel_AnswerOrCall timeout=20000
ring-stop value=501
call-start value=501
expect TelTel_Mute timeout=20000
expect TelTel_Unmute timeout=20000
expect-no TelTel_AnswerOrCall TelTel_HangupOrReject TelTel_Mute TelTel_Unmute TelTel_BringToTop for=1500
call-end value=501 thread=new
sleep 1000
# 2.
ring-start value=502
expect TelTel_BringToTop timeout=20000
expect TelTel_AnswerOrCall timeout=20000
ring-stop value=502
call-start value=502
expect TelTel_HangupOrReject timeout=20000
call-end value=502
# 3.
expect TelTel_BringToTop timeout=20000
expect TelTel_AnswerOrCall timeout=20000
call-start value=503
sleep 1000
call-end value=503
# 4. and 5.: the handset lifted
expect TelTel_BringToTop timeout=20000
expect TelTel_BringToTop timeout=20000
sleep 1500
# 6.
not-ready
expect TelTel_UnregisterAudioDevices timeout=10000
sleep 1000
ready
expect TelTel_IsTelTelReady result=1 timeout=10000
# 7.
expect TelTel_UnregisterAudioDevices timeout=120000
expect TelTel_Unregister * timeout=10000
wait-gone timeout=30000
SCRIPT

start_service service "$(winpath "$WORK/service.txt")"
start_teltel teltel "$(winpath "$WORK/teltel.txt")"
start agent "$AGENT_WIN"

# TelTel back (the second AgentConnectedToVoip): the installer's shutdown.
deadline=$((SECONDS + 180))
until [ "$(count_text service.log "RX IMM MSG_TYPE_AGENT_EVENT NotifyAgentStatus info=1 ")" = 2 ]; do
    [ $SECONDS -lt $deadline ] || fail "TelTel did not come back within 180 s"
    kill -0 "${STARTED[service]}" 2>/dev/null || fail "the adapter stand-in ended early"
    kill -0 "${STARTED[teltel]}" 2>/dev/null || fail "TelTel's control program ended early"
    sleep 0.2
done
started=$SECONDS
shutdown_agent
expect_status agent 0 30
say_time=$((SECONDS - started))
expect_status service 0 30
expect_status teltel 0 30

# The library from the agent's own folder, the events handled as they came, the end.
expect_text trace.txt 'CTelTelApiWrapper::LoadLibrary() - Loading TelTelAPI from C:\OrvinTest\teltel-session\TelTelAPI.DLL m_hDll = '
expect_count trace.txt "CTelTelApiWrapper::LoadLibrary() - Loading TelTelAPI from" 1
expect_order trace.txt "CTelTelApiClient::ParseIncommingEvent - TELTEL_VOIP_IN_START_RING" \
    "CTelTelApiClient::ParseIncommingEvent - TELTEL_VOIP_IN_STOP_RING" \
    "CTelTelApiClient::ParseIncommingEvent - TELTEL_VOIP_IN_CALL_START" \
    "CTelTelApiClient::ParseIncommingEvent - TELTEL_VOIP_IN_CALL_END" \
    "CTelTelApiClient::SendPing() - TelTel Client is NOT READY" \
    "CTelTelApiClient::~CTelTelApiClient()" "CTelTelApiWrapper::Disconnect" \
    "CTelTelApiWrapper::~CTelTelApiWrapper() - Calling FreeLibrary("
expect_text teltel.log "library connected: process "
expect_no_text teltel.log "ERROR"
expect_no_text teltel.log "lacking"
echo "the agent ended $say_time s after the installer's shutdown command (the installer waits about 40 s)"
echo "PASS"
