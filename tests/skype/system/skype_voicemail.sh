#!/usr/bin/env bash
# The voicemails and what the service reads of them, with the agent, the adapter stand-in
# and the Skype stand-in: a call from the line whose caller number and handle are longer
# than the service's 32-byte fields reaches it cut to 31 characters and a zero; the line
# switched to VoIP with unplayed voicemails plays the stutter tone, and the voicemail
# session's end tones follow, each as four little-endian 32-bit numbers in the first 16
# bytes of Buffer1; then the user deletes all voicemails while Skype answers each delete
# inside the agent's send, and the agent lives on to end the session.
source "$(dirname "$0")/../../agent/system/agent-lib.sh"

SKYPESIM="$BUILD_DIR/tools/SkypeSim/SkypeSim.exe"
agent_registry 000000c021000000 # Skype

NUMBER=+493012345678901234567890123456789012345 # 40 characters
HANDLE=a.rather.long.skype.handle.for.this.test  # 40 characters
[ ${#NUMBER} = 40 ] && [ ${#HANDLE} = 40 ] || fail "the long texts are not 40 characters"

cat >"$WORK/service.txt" <<SCRIPT
wait-agent timeout=30000
expect AGENT_EVENT NotifyAgentStatus info=0
adaptor-info lowcost=0
send HW_EVENT NOTIFY_OPEN_DEVICE
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=30000
# Each field holds 31 characters and the zero that ends them.
expect CALL_EVENT CALL_STATUS_RINGING info=1001 buf1=+493012345678901234567890123456 buf2=a.rather.long.skype.handle.for. timeout=30000
expect CALL_EVENT CALL_STATUS_FINISHED info=1001 timeout=30000
# The line goes to VoIP: unplayed voicemails wait, the stutter tone (1, 4000, 600, 80).
send HW_EVENT NOTIFY_VOIP_STATE info=0
expect AGENT_EVENT PlaybackSignalRequest info=1 buf1="\x01\x00\x00\x00\xa0\x0f\x00\x00\x58\x02\x00\x00\x50\x00\x00\x00" timeout=10000
send SM2AGENT_REQUEST 0
expect CALL_EVENT CALL_STATUS_INPROGRESS info=0 timeout=10000
# The first played is the last of Skype's list: the last message's tone (1, 5000, 1200, 200).
expect AGENT_EVENT PlaybackSignalRequest info=1 buf1="\x01\x00\x00\x00\x88\x13\x00\x00\xb0\x04\x00\x00\xc8\x00\x00\x00" timeout=30000
send HW_EVENT NOTIFY_DTMF_KEY info='3'
# Another one: the end tone (1, 5000, 1200, 300).
expect AGENT_EVENT PlaybackSignalRequest info=1 buf1="\x01\x00\x00\x00\x88\x13\x00\x00\xb0\x04\x00\x00\x2c\x01\x00\x00" timeout=30000
send HW_EVENT NOTIFY_DTMF_KEY info='9'
sleep 2000
send HW_EVENT NOTIFY_DTMF_KEY info='*'
expect CALL_EVENT CALL_STATUS_FINISHED info=0 timeout=10000
expect AGENT_EVENT NotifyAgentStatus info=3 timeout=60000
SCRIPT

cat >"$WORK/skype.txt" <<SCRIPT
answer get skypeversion => SKYPEVERSION 3.8.0.188
answer protocol 5 => PROTOCOL 5
answer get userstatus => USERSTATUS ONLINE
answer get currentuserhandle => CURRENTUSERHANDLE orvin.user
answer get user * can_leave_vm => USER \$1 CAN_LEAVE_VM TRUE
answer search friends => USERS alice
answer get user * onlinestatus => USER \$1 ONLINESTATUS ONLINE
answer get user * speeddial => USER \$1 SPEEDDIAL
answer search voicemails => VOICEMAILS 101, 102, 103
answer get voicemail * status => VOICEMAIL \$1 STATUS UNPLAYED
answer get voicemail * type => VOICEMAIL \$1 TYPE INCOMING
answer ping => PONG
answer get call 1001 type => CALL 1001 TYPE INCOMING_PSTN
answer get call 1001 partner_handle => CALL 1001 PARTNER_HANDLE $HANDLE
answer get call 1001 pstn_number => CALL 1001 PSTN_NUMBER $NUMBER
# Skype deletes at once and says so before the agent's send returns.
answer-inside alter Voicemail * delete => VOICEMAIL \$1 STATUS DELETING
attach success timeout=60000
expect-command search friends timeout=10000
sleep 2000
notify CALL 1001 STATUS RINGING
expect-command get call 1001 pstn_number timeout=10000
sleep 1000
notify CALL 1001 STATUS FINISHED
expect-command Open Voicemail 103 timeout=60000
notify VOICEMAIL 103 STATUS PLAYING
notify VOICEMAIL 103 STATUS PLAYED
expect-command Open Voicemail 102 timeout=30000
notify VOICEMAIL 102 STATUS PLAYING
notify VOICEMAIL 102 STATUS PLAYED
expect-command alter Voicemail 101 delete timeout=30000
expect-command alter Voicemail 102 delete
expect-command alter Voicemail 103 delete
sleep 3000
SCRIPT

start_service service "$(winpath "$WORK/service.txt")"
start skype "$SKYPESIM" --log "$(winpath "$WORK/skype.log")" "$(winpath "$WORK/skype.txt")"
start agent "$AGENT"
expect_status skype 0 150
"$WINE_RUN" "$APPCTL" shutdown 2 </dev/null >"$WORK/appctl.out" 2>&1 || fail "OrvinAppCtl shutdown 2 failed"
expect_status agent 0 30
expect_status service 0 30
# Each "deleting" came inside the agent's send of that delete, before its next one.
expect_order skype.log "] RX alter Voicemail 101 delete" \
    "] TX VOICEMAIL 101 STATUS DELETING  (inside the agent's send)" "] RX alter Voicemail 102 delete" \
    "] TX VOICEMAIL 102 STATUS DELETING  (inside the agent's send)" "] RX alter Voicemail 103 delete" \
    "] TX VOICEMAIL 103 STATUS DELETING  (inside the agent's send)"
expect_count skype.log "] RX alter Voicemail " 3
echo "PASS"
