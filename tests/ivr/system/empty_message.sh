#!/usr/bin/env bash
# No empty voice messages (answering machine, context 2, on real DirectSound):
#   - a caller who hangs up at the tone (the service ends the dialogue right after
#     IVR_SET_TIMEOUT_FOR_LEAVE_MESSAGE_MODE) leaves no file and no waiting message;
#   - a caller who stays silent for the whole recording time leaves none either, and the
#     terminate request that follows carries the count as it was before (0).
source "$(dirname "$0")/ivr-lib.sh"

pulse_start
ivr_install VoiceMsgDurationSec=3
feed_start

cat >"$WORK/service.txt" <<SCRIPT
wait-agent timeout=30000
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=20000
send HW_EVENT NOTIFY_OPEN_DEVICE
sleep 500
send 7 0 info=1 buf1=$(buf1 31 2 0)
expect 7 8 info=1 buf1=$(buf1 31 8) timeout=30000
send 7 1 buf1=$(buf1 31)
send 7 0 info=1 buf1=$(buf1 32 2 0)
expect 7 8 info=1 buf1=$(buf1 32 8) timeout=30000
expect 7 6 info=0 buf1=$(buf1 32 0) timeout=30000
send 7 1 buf1=$(buf1 32)
sleep 500
SCRIPT
start_service service "$(winpath "$WORK/service.txt")"
start agent "$AGENT"
expect_status service 0 90
shutdown_agent

expect_count trace.txt "holds no message (too short or silent): deleted" 2
shopt -s nullglob
messages=("$INSTALL"/IVR/VoiceMail/vm*.wav)
[ ${#messages[@]} = 0 ] || fail "${#messages[@]} voice messages left: ${messages[*]}"
[ "$(registry_dword "$ROOT_KEY\\Config\\IVR" VoiceMessageWaiting)" = 0 ] || fail "VoiceMessageWaiting is not 0"
echo "PASS"
