#!/usr/bin/env bash
# Call forwarding (context 1) on real DirectSound, the caller's keys sent as real tones:
#   - behind a digit and the PIN, a number keyed and closed with '*' reaches the service
#     in IVR_CM_CONNECT_TO (5), parameter 1, the number in Buffer1 from byte 8;
#   - no key: the menu's time-out asks the service to connect, parameter 1, no number;
#   - with the start request's line-attach flag and AttachLineOnDCF, the number entry is
#     the line-attach menu (behind the PIN too), which asks for the line (parameter 7)
#     once it has spoken.
source "$(dirname "$0")/ivr-lib.sh"

pulse_start
ivr_install Pin=1234 PstnAdmin=1 AttachLineOnDCF=1
feed_start

cat >"$WORK/service.txt" <<SCRIPT
wait-agent timeout=30000
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=20000
send HW_EVENT NOTIFY_OPEN_DEVICE
sleep 500
send 7 0 info=1 buf1=$(buf1 20 1 0)
expect 7 5 buf1=$(buf1 20 1 +5551234) timeout=60000
send 7 1 buf1=$(buf1 20)
send 7 0 info=1 buf1=$(buf1 21 1 0)
expect 7 5 buf1=$(buf1 21 1) timeout=60000
send 7 1 buf1=$(buf1 21)
send 7 0 info=1 buf1=$(buf1 22 1 1)
expect 7 5 buf1=$(buf1 22 7) timeout=60000
send 7 1 buf1=$(buf1 22)
sleep 500
SCRIPT
start_service service "$(winpath "$WORK/service.txt")"
start agent "$AGENT"

wait_count trace.txt "Starting Playback" 1 60
feed number 11234*5551234*
wait_count trace.txt "Starting Playback" 3 90
feed attach 11234*
expect_status service 0 90

shutdown_agent

expect_order trace.txt \
    "IvrManager::ReceiveControlMsg context IVR_CX_CALL_FORWARD" \
    "PhoneNumberMenu::InterpretControl: Phone Number 5551234" \
    "IvrManager::SendControlMsg Tye 7, Message 5, Info = 0" \
    "IvrManager::ReceiveControlMsg IVR_TERMINATE" \
    "IvrManager::SendControlMsg Tye 7, Message 5, Info = 0" \
    "CIvrStateMachine::CreateVoiceMenuFromFile: orvin_path = $(winpath "$INSTALL"), section = AttachLine"
echo "PASS"
