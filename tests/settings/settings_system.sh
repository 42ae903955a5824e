#!/usr/bin/env bash
# The settings program against the real agent and the adapter stand-in, driven from
# outside through its windows (SettingsProbe.exe), with the voice dialogues on real
# DirectSound:
#   - a call leaves a message; the Messages page, open all along, lists it by itself;
#   - deleting it there lowers VoiceMessageWaiting (1 to 0) and the agent is told;
#   - a PIN saved on the Answering machine page (none was set) opens remote access in
#     the next call, whose first report to the service carries the count 0.
source "$(dirname "$0")/../ivr/system/ivr-lib.sh"
use_work "$BUILD_DIR/Testing/settings/$(basename "$0" .sh)"

SETTINGS="$BUILD_DIR/src/settings/OrvinSettings.exe"
PROBE="$BUILD_DIR/tests/settings/SettingsProbe.exe"
SHEET="OrvinAgent Settings"

# probe NAME ARGS...: SettingsProbe.exe with ARGS, its lines in $WORK/NAME.out; must succeed.
probe() {
    local name=$1
    shift
    run "$name" 60 "$PROBE" "$@"
    [ "$STATUS" = 0 ] || fail "SettingsProbe $* exited with $STATUS: $(cat "$WORK/$name.err")"
}

# messages_listed N: until the Messages page lists N messages.
messages_listed() {
    local deadline=$((SECONDS + 20))
    until probe list list "$SHEET" 1302 && [ "$(value_of list.out count)" = "$1" ]; do
        [ $SECONDS -lt $deadline ] || fail "the Messages page lists $(value_of list.out count) messages, not $1"
        sleep 0.3
    done
}

pulse_start
ivr_install VoiceMsgDurationSec=4 PstnAdmin=1 Pin=
mkdir -p "$INSTALL/IVR/VoiceMail"
feed_start
start_service_fed
start agent "$AGENT"
service "wait-agent timeout=30000"
service "expect AGENT_EVENT NotifyAgentStatus info=1 timeout=20000"
service "send HW_EVENT NOTIFY_OPEN_DEVICE"

# The program finds the root as the agent does, through the stand-in's enumeration.
start settings "$SETTINGS" --page messages
probe wait wait "$SHEET" 30000
messages_listed 0

# A call from the line reaches the answering machine; the caller speaks after the beep.
service "send 7 0 info=1 buf1=$(buf1 7 2 0)"
service "expect 7 8 info=1 buf1=$(buf1 7 8) timeout=30000"
feed message 2468
service "expect 7 6 info=1 buf1=$(buf1 7 0) timeout=30000"
service "send 7 1 buf1=$(buf1 7)"
messages_listed 1
[ "$(registry_dword "$ROOT_KEY\\Config\\IVR" VoiceMessageWaiting)" = 1 ] || fail "VoiceMessageWaiting is not 1"

# Deleted on the page, after its question.
probe select select "$SHEET" 1302 0
probe delete click "$SHEET" 1003
probe answer answer "$SHEET" 6 10000
expect_text answer.out "message=Delete the message of "
messages_listed 0
shopt -s nullglob
left=("$INSTALL"/IVR/VoiceMail/vm*.wav)
[ ${#left[@]} = 0 ] || fail "the message is still in the folder: ${left[*]}"
[ "$(registry_dword "$ROOT_KEY\\Config\\IVR" VoiceMessageWaiting)" = 0 ] || fail "VoiceMessageWaiting is not 0"
wait_count trace.txt "CMessageEngine: MonitorNotifyRegistryChanges" 1 10

# A PIN, typed twice on its page, applied.
probe page page "$SHEET" 1
probe pin set "$SHEET" 1202 4826
probe again set "$SHEET" 1203 4826
probe apply click "$SHEET" 0x3021
deadline=$((SECONDS + 10))
until "$WINE_RUN" reg query "$ROOT_KEY\\Config\\IVR" /v Pin </dev/null 2>/dev/null | tr -d '\r' | grep -q 'REG_SZ *4826$'; do
    [ $SECONDS -lt $deadline ] || fail "the PIN 4826 was not written"
    sleep 0.2
done
wait_count trace.txt "CMessageEngine: MonitorNotifyRegistryChanges" 2 10

# Remote access with that PIN; the owner's menu's '9' hands over to the softphone's voice
# mail, and that report carries the count the deletion left.
service "send 7 0 info=1 buf1=$(buf1 8 0)"
wait_count trace.txt "Starting Playback" 2 60
feed pin '4826*' 1500
feed_wait pin
feed owner 9 1500
service "expect 7 7 info=0 buf1=$(buf1 8 8) timeout=60000"
service "send 7 1 buf1=$(buf1 8)"

probe close click "$SHEET" 2
expect_status settings 0 30
shutdown_agent
end_service
echo "PASS"
