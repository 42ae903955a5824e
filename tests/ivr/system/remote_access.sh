#!/usr/bin/env bash
# Remote access (context 0) on real DirectSound, the caller's keys sent as real tones:
#   - three wrong PINs end in GoodBye, which asks the service to end the call;
#   - the right PIN opens the owner's menu: the waiting message is played and deleted
#     ('2'), a new greeting is recorded and kept ('#'), and '9' hands over to the
#     softphone's voice mail;
#   - a greeting recording cut short by the end of the call is discarded
#     (RecordGreetingOnPound set), the earlier greeting stays.
source "$(dirname "$0")/ivr-lib.sh"

pulse_start
ivr_install Pin=1234 VoiceMessageWaiting=1 AMGreetingDurationSec=10 RecordGreetingOnPound=1 PstnAdmin=1
mkdir -p "$INSTALL/IVR/VoiceMail"
python3 "$MAKE_KEYS" "$WORK/tones.wav" 77 --on 100 --off 150 --amp 6000 >/dev/null
sox "$WORK/tones.wav" "$INSTALL/IVR/VoiceMail/vm2026101120000.wav" pad 0 2.5
feed_start
record_playback heard

cat >"$WORK/service.txt" <<SCRIPT
wait-agent timeout=30000
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=20000
send HW_EVENT NOTIFY_OPEN_DEVICE
sleep 500
# Three wrong PINs: IVR_TERMINATE_REQUEST
send 7 0 info=1 buf1=$(buf1 3 0)
expect 7 6 info=1 buf1=$(buf1 3 0) timeout=90000
send 7 1 buf1=$(buf1 3)
# The owner: the greeting recording begins (the message deleted: nothing waits), then the
# softphone's voice mail (IVR_CM_GOTO_VOICE_MAIL, 8)
send 7 0 info=1 buf1=$(buf1 4 0)
expect 7 8 info=0 buf1=$(buf1 4 8) timeout=120000
expect 7 7 info=0 buf1=$(buf1 4 8) timeout=60000
send 7 1 buf1=$(buf1 4)
# A greeting recording the caller hangs up on
send 7 0 info=1 buf1=$(buf1 5 0)
expect 7 8 info=0 buf1=$(buf1 5 8) timeout=60000
sleep 1500
send 7 1 buf1=$(buf1 5)
sleep 1000
SCRIPT
start_service service "$(winpath "$WORK/service.txt")"
start agent "$AGENT"

wait_count trace.txt "Starting Playback" 1 60
feed wrong 1111*2222*3333*
wait_count trace.txt "Starting Playback" 2 90
feed pin 1234*
wait_count trace.txt "PinNumberMenu::HandleDigits Pin collected: ****" 4 30
owner=$(menu_after "PinGuard: the right PIN")
[ -n "$owner" ] || fail "no menu played after the right PIN"
feed messages 1
wait_text trace.txt "PlayVoiceMsgMenu: playing voice message" 30
feed delete 2
wait_text trace.txt "PlayVoiceMsgMenu::HandleDtmf: deleting voice message" 30
# Back in the owner's menu once the end of the messages has been told.
wait_count trace.txt "CVoiceMenu::Play $owner" 2 30
feed greeting 22
wait_count trace.txt "IvrManager::SendControlMsg Tye 7, Message 8, Info = 0" 1 60
feed speak 4545#
deadline=$((SECONDS + 30))
until [ -f "$LANG_DIR/UserAMGreeting.wav" ]; do
    [ $SECONDS -lt $deadline ] || fail "the new greeting was not kept"
    sleep 0.1
done
feed voicemail '*9'
wait_count trace.txt "Starting Playback" 3 60
feed pin2 1234*
wait_count trace.txt "PinNumberMenu::HandleDigits Pin collected: ****" 5 30
feed greeting2 22
wait_count trace.txt "IvrManager::SendControlMsg Tye 7, Message 8, Info = 0" 2 60
feed cut 5
expect_status service 0 60

shutdown_agent
stop heard

expect_order trace.txt \
    "PinNumberMenu::HandleDigits Pin collected: ****" \
    "PinNumberMenu::HandleDigits Pin collected: ****" \
    "PinNumberMenu::HandleDigits Pin collected: ****" \
    "IvrManager::SendControlMsg Tye 7, Message 6, Info = 1" \
    "PinGuard: the right PIN: PinFailedCalls = 0" \
    "PlayVoiceMsgMenu::HandleDtmf: deleting voice message $(winpath "$INSTALL/IVR/VoiceMail/vm2026101120000.wav")" \
    "IvrManager::SendControlMsg Tye 7, Message 7, Info = 0"
[ ! -e "$INSTALL/IVR/VoiceMail/vm2026101120000.wav" ] || fail "the message was not deleted"
[ "$(registry_dword "$ROOT_KEY\\Config\\IVR" VoiceMessageWaiting)" = 0 ] || fail "VoiceMessageWaiting is not 0"
greeting=$(keys_in "$LANG_DIR/UserAMGreeting.wav")
[[ $greeting == 4545* ]] || fail "the kept greeting holds '$greeting', not 4545"
[ ! -e "$LANG_DIR/GreetingTmp.wav" ] || fail "the cut greeting recording was left behind"
heard=$(playback_keys heard)
echo "heard on the playback device: $heard"
[[ $heard == *77* ]] || fail "the message 77 was not heard"
echo "PASS"
