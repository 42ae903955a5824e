#!/usr/bin/env bash
# The agent's I/O manager against the stand-in, in two processes: the greeting comes
# first, then events flow both ways with every part of an IMM message, adaptor
# information and requests without IMM, and a message written in pieces arrives whole.
. "$(dirname "$0")/simtest-lib.sh"

cat >"$WORK/service.txt" <<'SCRIPT'
wait-agent timeout=20000
expect AGENT_EVENT NotifyAgentStatus info=0 ioctl=0xF000000A
send HW_EVENT NOTIFY_OPEN_DEVICE
send HW_EVENT NOTIFY_HOOK_STATE info=0
send CALL_EVENT CALL_STATUS_RINGING buf1="+49 30 123456" buf2=Jane buf3="Doe, J." payload="caller data"
expect CALL_EVENT CALL_STATUS_INPROGRESS buf1=call-17
adaptor-info lowcost=0
send HW_EVENT NOTIFY_DTMF_KEY info='#'
expect-generic ioctl=0xF000000E value=0
send SM2AGENT_REQUEST 1 info=1
send 12 3 info=-1                       # a type the catalogue does not know
# a header-only event (hook on) written in two pieces
raw 1c000000 e8030000 03000000 01000000
sleep 300
raw 00000000 01000000 00000000
expect AGENT_EVENT PlaybackSignalRequest info=1
send HW_EVENT SM_INITIALIZED            # the probe may go
sleep 200
SCRIPT

start_sim service "$(winpath "$WORK/service.txt")"
start probe "$PROBE" --events "$(winpath "$WORK/events.txt")" \
    "wait-connected timeout=20000" \
    "wait-available timeout=5000" \
    "send AGENT_EVENT NotifyAgentStatus info=0" \
    "expect HW_EVENT NOTIFY_OPEN_DEVICE" \
    "expect HW_EVENT NOTIFY_HOOK_STATE info=0" \
    "expect CALL_EVENT CALL_STATUS_RINGING buf1=\"+49 30 123456\" buf2=Jane buf3=\"Doe, J.\" payload=\"caller data\"" \
    "send CALL_EVENT CALL_STATUS_INPROGRESS buf1=call-17" \
    "expect HW_EVENT NOTIFY_DTMF_KEY info='#'" \
    "send-generic internal=3 value=0" \
    "expect SM2AGENT_REQUEST 1 info=1" \
    "expect 12 3 info=-1" \
    "expect HW_EVENT NOTIFY_HOOK_STATE info=1" \
    "send AGENT_EVENT PlaybackSignalRequest info=1 buf1=\"\\x01\\x00\\x00\\x00\\x02\"" \
    "expect HW_EVENT SM_INITIALIZED"

expect_status probe 0 60
expect_status service 0 60

# The greeting precedes every message, and the service's log shows the whole exchange.
expect_order service.log \
    "IOMAN agent connected" \
    "IOMAN greeting adapter=0" \
    "RX IMM MSG_TYPE_AGENT_EVENT NotifyAgentStatus info=0 ioctl=0xf000000a id=0x3e80000" \
    "TX IMM MSG_TYPE_HW_EVENT NOTIFY_OPEN_DEVICE info=0 id=0x3e8" \
    "TX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_RINGING info=0 buf1=\"+49 30 123456\" buf2=Jane buf3=\"Doe, J.\" payload=\"caller data\" id=0x3e8" \
    "RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_INPROGRESS info=0 buf1=call-17 ioctl=0xf000000a id=0x3e80000" \
    "TX ADAPTOR_INFO lowcost=0 id=0x3e8" \
    "RX GENERIC ioctl=0xf000000e value=0 id=0x3e80000" \
    "RX IMM MSG_TYPE_AGENT_EVENT PlaybackSignalRequest info=1 buf1=\"\\x01\\x00\\x00\\x00\\x02\" ioctl=0xf000000a" \
    "script done"
expect_text service.log "ENUM client 1: count -> 1"
[ "$(count_text service.log "IOMAN greeting")" = 1 ] || fail "the agent greeted more than once"
[ "$(count_text service.log " RX ")" = 4 ] || fail "the service received other than 4 messages"

# The owner saw every event once, in the order sent, named from the catalogue.
[ "$(count_lines events.txt "EVENT ")" = 8 ] || fail "the owner got other than 8 events"
expect_order events.txt \
    "EVENT MSG_TYPE_HW_EVENT NOTIFY_OPEN_DEVICE info=0" \
    "EVENT MSG_TYPE_HW_EVENT NOTIFY_HOOK_STATE info=0" \
    "EVENT MSG_TYPE_CALL_EVENT CALL_STATUS_RINGING info=0 buf1=\"+49 30 123456\" buf2=Jane buf3=\"Doe, J.\" payload=\"caller data\"" \
    "EVENT MSG_TYPE_HW_EVENT NOTIFY_DTMF_KEY info=35" \
    "EVENT MSG_TYPE_SM2AGENT_REQUEST 1 info=1" \
    "EVENT 12 3 info=-1" \
    "EVENT MSG_TYPE_HW_EVENT NOTIFY_HOOK_STATE info=1" \
    "EVENT MSG_TYPE_HW_EVENT SM_INITIALIZED info=0"
echo "PASS"
