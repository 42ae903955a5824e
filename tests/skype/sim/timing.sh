#!/usr/bin/env bash
# When the stand-in answers and when it takes nothing: an answer-inside reaches the peer
# before the peer's send returns; after attach status 3 the window that had attached may
# still send its last commands, but gets no answers; a hung window lets the peer's send
# time out (and the command is lost, not taken late).
source "$(dirname "$0")/skypesim-lib.sh"

script inside-skype <<'S'
answer-inside ping => PONG
answer get userstatus => USERSTATUS ONLINE
attach success
expect-command ping
attach unavailable
expect-command "set audio_in " timeout=5000
expect-command get userstatus timeout=5000
S
script inside-peer <<'S'
discover
wait-attached
send ping
sleep 300
send "set audio_in "
send get userstatus
sleep 500
S
start_skype inside-skype
start_peer inside-peer
expect_status inside-peer 0 30
expect_status inside-skype 0 30
expect_order inside-peer.out "NOTIFY PONG" "SENT ping"
expect_order inside-skype.log "] RX ping" "] TX PONG  (inside the agent's send)"
expect_order inside-skype.log "] attach unavailable to 0x" "] RX set audio_in " "] RX get userstatus" \
    "] answer (line 2) not sent: no window attached"
expect_no_text inside-peer.out "NOTIFY USERSTATUS"
expect_no_text inside-skype.log "ERROR"

script hang-skype <<'S'
answer ping => PONG
attach success
hang 8000
sleep 9000
S
script hang-peer <<'S'
discover
wait-attached
sleep 500
send ping
S
start_skype hang-skype
start_peer hang-peer
expect_status hang-peer 1 30
expect_text hang-peer.out "FAIL line 4: send ping: WM_COPYDATA not delivered"
expect_status hang-skype 0 30
expect_order hang-skype.log "] hang: the window takes no message for 8000 ms" "] hang: over"
expect_no_text hang-skype.log "] RX ping" # a send that timed out is not delivered later
echo "timing: ok"
