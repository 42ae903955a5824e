#!/usr/bin/env bash
# Each check on the agent's commands fails a script that names no fault: SkypePeer sends
# one bad command where SkypeSim expects a good one (or only sleeps), and the stand-in
# exits 1 with the violation on standard error and in its log. With --lenient the same
# command is a warning and the script passes.
source "$(dirname "$0")/skypesim-lib.sh"

LONG=$(printf 'a%.0s' $(seq 1 256))

# case NAME SKYPE_OPTIONS PEER_SEND_LINE EXPECTED_TEXT [SKYPE_STATUS]
case_() {
    local name=$1 options=$2 send=$3 expected=$4 status=${5:-1}
    script "$name-skype" <<S
answer ping => PONG
attach success
expect-command get skypeversion
sleep 1500
S
    script "$name-peer" <<S
discover
wait-attached
send get skypeversion
$send
S
    # shellcheck disable=SC2086
    start_skype "$name-skype" $options
    start_peer "$name-peer"
    expect_status "$name-peer" 0 30
    expect_status "$name-skype" "$status" 30
    expect_text "$name-skype.log" "$expected"
    if [ "$status" = 1 ]; then
        # The line is the one running when the command came: the expect or the sleep after it.
        expect_text "$name-skype.err" ": command 2 ("
        expect_text "$name-skype.err" "$expected"
    else
        expect_text "$name-skype.log" "] WARNING command 2 ("
        expect_text "$name-skype.log" "1 fault(s) against the protocol passed over (--lenient)"
    fi
}

case_ no-zero "" "send ping zero=0" "no terminating zero (4 bytes counted)"
case_ inner-zero "" 'send "ping\0x"' "a zero byte at offset 4 of 7 counted bytes"
case_ too-long "" "send $LONG" "a command of 256 bytes (at most 255)"
case_ utf8 "" 'send "CALL J\xe9r\xf4me"' "not well-formed UTF-8 at byte 6"
case_ other-window "" "send ping from=other" "a command from a window other than the one that attached"
case_ data-word "" "send ping data=3" "copy-data word 3, not 0"
case_ lenient "--lenient" "send ping zero=0" "no terminating zero (4 bytes counted)" 0

# Nothing before the attach handshake: a command cut short by the violation.
script before-skype <<'S'
expect-command ping timeout=8000
attach success
S
script before-peer <<'S'
send ping
S
start_skype before-skype
start_peer before-peer
expect_status before-peer 0 30
expect_status before-skype 1 30
expect_text before-skype.err "SkypeSim: line 1: expect-command ping timeout=8000: command 1 (ping) from 0x"
expect_text before-skype.err "a command before the attach handshake completed"

# A violation while an expect-command waits for something else cuts the wait short.
script cut-skype <<'S'
attach success
expect-command "SET CALL 1 Status finished" timeout=20000
S
script cut-peer <<'S'
discover
wait-attached
send "get call 1 type" data=1
S
start_skype cut-skype
start_peer cut-peer
expect_status cut-peer 0 30
finish cut-skype 15
[ "$STATUS" = 1 ] || fail "cut-skype exited with $STATUS, expected 1"
expect_text cut-skype.err "line 2: expect-command \"SET CALL 1 Status finished\" timeout=20000: cut short: command 1 (get call 1 type)"

# A good session leaves no error.
expect_no_text no-zero-skype.log "] RX get skypeversion  ("
echo "conformance: ok"
