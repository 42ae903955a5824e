#!/usr/bin/env bash
# Voice dialogues end to end on real DirectSound: the adapter stand-in starts them, the
# agent plays on the virtual playback device and hears the virtual capture device.
#   - answering machine (context 2): the user's greeting is heard, a caller's message is
#     recorded into the VoiceMail folder for VoiceMsgDurationSec, counted and reported;
#   - reminder (context 4): a beep, then a reminder recorded into the stored folder;
#   - a played file (context 5): the file named in the Payload is heard;
#   - standby is refused while a dialogue runs.
source "$(dirname "$0")/ivr-lib.sh"

pulse_start
ivr_install VoiceMsgDurationSec=4
python3 "$MAKE_KEYS" "$LANG_DIR/UserAMGreeting.wav" 159 --on 100 --off 150 --amp 6000 >/dev/null
python3 "$MAKE_KEYS" "$WORK/played.wav" 3690 --on 100 --off 150 --amp 6000 >/dev/null
mkdir -p "$WORK/reminders"
feed_start
record_playback heard

cat >"$WORK/service.txt" <<SCRIPT
wait-agent timeout=30000
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=20000
send HW_EVENT NOTIFY_OPEN_DEVICE
sleep 500
# IVR_START, id 7, answering machine, from the PSTN side
send 7 0 info=1 buf1=$(buf1 7 2 0)
expect 7 8 info=1 buf1=$(buf1 7 8) timeout=30000
expect 7 6 info=1 buf1=$(buf1 7 0) timeout=30000
send 7 1 buf1=$(buf1 7)
# A reminder into the stored folder
send 7 4 payload=$(wtext "$WORK/reminders")
send 7 0 buf1=$(buf1 8 4)
expect 7 9 info=1 buf1=$(buf1 8 8) timeout=30000
expect 7 10 info=1 buf1=$(buf1 8 0) timeout=30000
send 7 1 buf1=$(buf1 8)
# A file played
send 7 0 buf1=$(buf1 9 5) payload=$(wtext "$WORK/played.wav")
sleep 4000
send 7 1 buf1=$(buf1 9)
sleep 1000
SCRIPT
start_service service "$(winpath "$WORK/service.txt")"
start agent "$AGENT"

# The caller speaks (key tones 2468) once the recording has begun.
wait_text trace.txt "IvrManager::SendControlMsg Tye 7, Message 8, Info = 1" 60
feed message 2468
# While a dialogue runs, standby is refused.
"$WINE_RUN" "$POWER" query-suspend --title MessageOnlyWindowTitle --process OrvinAgent.exe --dismiss \
    </dev/null >"$WORK/power.out" 2>&1 || fail "OrvinPowerEvent failed"
expect_text power.out "0x424D5144"
expect_text trace.txt "COrvinApiClient::OnPowerManagementNotification - Automatically denying request for standby - IVR Active"
expect_status service 0 90

shutdown_agent
stop heard

expect_order trace.txt \
    "IvrManager::Instance IvrManager created" \
    "IvrManager::ReceiveControlMsg IVR_START" \
    "IvrManager::ReceiveControlMsg context IVR_CX_ANSWERING_MACHINE" \
    "CIvrStateMachine Initialized successfuly" \
    "Starting Playback" \
    "IvrManager::SendControlMsg Tye 7, Message 8, Info = 1" \
    "IvrManager::SendControlMsg Tye 7, Message 6, Info = 1" \
    "IvrManager::ReceiveControlMsg IVR_TERMINATE" \
    "CIvrStateMachine::~CIvrStateMachine()" \
    "IvrManager::ReceiveControlMsg IVR_STORE_REMINDER_PATH $(winpath "$WORK/reminders")" \
    "IvrManager::SendControlMsg Tye 7, Message 9, Info = 1" \
    "IvrManager::SendControlMsg Tye 7, Message 10, Info = 1" \
    "CIvrStateMachine::InitializeSimplePlayFileMenu file $(winpath "$WORK/played.wav")"

# The message: one file holding what the caller keyed, counted in the registry. It lasts
# 4.1 s (the recording stops at the tick past 4 s) and a tenth more for each of the 4
# keys: a tenth that carries a key is not a clock tick.
shopt -s nullglob
messages=("$INSTALL"/IVR/VoiceMail/vm*.wav)
[ ${#messages[@]} = 1 ] || fail "${#messages[@]} voice messages recorded, not 1"
length=$(soxi -D "${messages[0]}")
echo "message ${messages[0]##*/}: $length s"
awk -v l="$length" 'BEGIN { exit !(l >= 4.4 && l <= 4.6) }' || fail "the message lasts $length s, not 4.5 s"
[ "$(keys_in "${messages[0]}")" = 2468 ] || fail "the message does not hold the keys 2468"
[ "$(registry_dword "$ROOT_KEY\\Config\\IVR" VoiceMessageWaiting)" = 1 ] || fail "VoiceMessageWaiting is not 1"

reminders=("$WORK"/reminders/vr*.wav)
[ ${#reminders[@]} = 1 ] || fail "${#reminders[@]} reminders recorded, not 1"
length=$(soxi -D "${reminders[0]}")
awk -v l="$length" 'BEGIN { exit !(l >= 4.0 && l <= 4.2) }' || fail "the reminder lasts $length s, not 4.1 s"
expect_text trace.txt "RecordReminderMsgMenu::CreateTargetFileName: Sending IVR_MESSAGE_RECORDING_BEGAN $(winpath "${reminders[0]}")"

# Heard on the line: the greeting, then the played file.
heard=$(playback_keys heard)
echo "heard on the playback device: $heard"
[[ $heard == *159*3690* ]] || fail "the greeting 159 and the played file 3690 were not heard in order"
echo "PASS"
