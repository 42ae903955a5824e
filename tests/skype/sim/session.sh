#!/usr/bin/env bash
# A whole session across two processes: SkypeSim answers the discover of SkypePeer (in
# the agent's place) with a pending authorisation granted later, answers its connection
# queries by standing answers (with a captured handle), rings a call, takes the answer
# command, passes over what no expectation names; then vanishes: a ping goes unanswered
# and the window closes.
source "$(dirname "$0")/skypesim-lib.sh"

script skype <<'S'
answer get skypeversion => SKYPEVERSION 2.5.0.154
answer protocol 5 => PROTOCOL 5
answer get currentuserhandle => CURRENTUSERHANDLE orvin.user
answer get user * can_leave_vm => USER $1 CAN_LEAVE_VM TRUE
answer search friends => USERS alice, bob | USER alice ONLINESTATUS ONLINE
answer ping => PONG
attach pending
sleep 200
attach success          # the same window: no new discover
expect-command get skypeversion
expect-command get user orvin.user can_leave_vm   # "protocol 5" and the rest passed over
expect-command search friends
notify CALL 12 STATUS RINGING
expect-command "SET CALL 12 Status inprogress"
notify CALL 12 STATUS INPROGRESS
notify "CALL 12 DTMF #"
expect-command "BTN_PRESSED \*"
vanish close=1500
expect-command ping timeout=3000
S
script peer <<'S'
discover
wait-attached
send get skypeversion
expect-notification SKYPEVERSION 2.5.0.154
send protocol 5
expect-notification PROTOCOL 5
send get currentuserhandle
expect-notification CURRENTUSERHANDLE orvin.user
send get user orvin.user can_leave_vm
expect-notification USER orvin.user CAN_LEAVE_VM TRUE
send search friends
expect-notification USERS alice, bob
expect-notification USER alice ONLINESTATUS ONLINE
expect-notification CALL 12 STATUS RINGING
send SET CALL 12 Status inprogress
expect-notification CALL 12 STATUS INPROGRESS
expect-notification "CALL 12 DTMF #"
send "BTN_PRESSED *"
sleep 300
send ping
wait-gone timeout=10000
S
start_skype skype
start_peer peer
expect_status peer 0 60
expect_status skype 0 30

expect_order peer.out "ATTACH status=1" "ATTACH status=0"
expect_order skype.log "] discover from 0x" "] attach pending to 0x" "] attach success to 0x" \
    "] RX get skypeversion" "] TX SKYPEVERSION 2.5.0.154" "] RX protocol 5" "] TX PROTOCOL 5" \
    "] TX USER orvin.user CAN_LEAVE_VM TRUE" "] TX USERS alice, bob" "] TX USER alice ONLINESTATUS ONLINE" \
    "] TX CALL 12 STATUS RINGING" "] RX SET CALL 12 Status inprogress" "] TX CALL 12 STATUS INPROGRESS" \
    "] RX BTN_PRESSED *" "] vanish: " "] RX ping  (not answered: vanished)" "] window closed" "] exit 0"
expect_text skype.log "] passed over: protocol 5"
expect_no_text skype.log "ERROR"
expect_no_text peer.out "NOTIFY PONG"
# The attach message names the stand-in's own window, the one the peer sent to.
expect_text peer.out "SENT BTN_PRESSED *"
echo "session: ok"
