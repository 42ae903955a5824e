#!/usr/bin/env bash
# The demo's Skype script, data/demo/demo-skype.txt, played against SkypePeer in the
# agent's place (the commands the agent sends in that session, in its order): the script
# runs to its end with every expectation met and no fault.
source "$(dirname "$0")/skypesim-lib.sh"

SOURCE_DIR=$(cd "$(dirname "$0")/../../.." && pwd)
cp "$SOURCE_DIR/data/demo/demo-skype.txt" "$WORK/skype.txt"
script peer <<'S'
discover timeout=20000
wait-attached
send get skypeversion
send protocol 5
send get userstatus
send search voicemails
send search friends
expect-notification USERS alice, bob
expect-notification CONNSTATUS ONLINE
send get currentuserhandle
expect-notification CURRENTUSERHANDLE orvin.user
send get user orvin.user can_leave_vm
expect-notification USER orvin.user CAN_LEAVE_VM TRUE
send get voicemail 101 status
expect-notification VOICEMAIL 101 STATUS UNPLAYED
send get user alice onlinestatus
expect-notification USER alice ONLINESTATUS ONLINE
send get user bob speeddial
expect-notification USER bob SPEEDDIAL 13
send "set audio_in Orvin Virtual Audio Device"
expect-notification AUDIO_IN Orvin Virtual Audio Device
send ping
expect-notification PONG

expect-notification CALL 1001 STATUS RINGING timeout=10000
send get call 1001 type
expect-notification CALL 1001 TYPE INCOMING_P2P
send get call 1001 partner_handle
expect-notification CALL 1001 PARTNER_HANDLE alice
send get user alice speeddial
expect-notification USER alice SPEEDDIAL 12
send SET CALL 1001 Status inprogress
expect-notification CALL 1001 STATUS INPROGRESS
send BTN_PRESSED 4
send BTN_PRESSED 2
expect-notification CALL 1001 DTMF 5
send hook on
send SET CALL 1001 Status finished
expect-notification CALL 1001 STATUS FINISHED

send CALL 555
expect-notification CALL 1002 STATUS ROUTING
expect-notification CALL 1002 STATUS INPROGRESS timeout=10000
expect-notification CALL 1002 STATUS FINISHED timeout=10000

send Open Voicemail 101
expect-notification VOICEMAIL 101 STATUS PLAYING
expect-notification VOICEMAIL 101 STATUS PLAYED timeout=10000
S
start_skype skype
start_peer peer
expect_status peer 0 90
expect_status skype 0 30
expect_order skype.log "] attach success to 0x" "] TX CALL 1001 STATUS RINGING" "] RX SET CALL 1001 Status inprogress" \
    "] RX BTN_PRESSED 4" "] RX BTN_PRESSED 2" "] RX SET CALL 1001 Status finished" "] RX CALL 555" \
    "] TX CALL 1002 STATUS FINISHED" "] RX Open Voicemail 101" "] TX VOICEMAIL 101 STATUS PLAYED" "] exit 0"
expect_no_text skype.log "ERROR"
echo "demo: ok"
