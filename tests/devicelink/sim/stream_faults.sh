#!/usr/bin/env bash
# What the service may send that the agent must survive, across processes: an IMM whose
# data are shorter than its presence flags, kinds the agent does not take, a message for
# another adapter (all dropped, the connection kept); a header whose Size is impossible
# (the connection dropped and made anew); half a message left when the pipe breaks (not
# taken into the next connection). Between each, events still reach the owner, and
# nothing else does. Sets the trace key, so it runs alone.
. "$(dirname "$0")/simtest-lib.sh"

cat >"$WORK/service.txt" <<'SCRIPT'
wait-agent timeout=20000
expect AGENT_EVENT NotifyAgentStatus info=0
# IMM HW_EVENT NOTIFY_PSTN_RING flagged with Buffer1 (32 bytes) but carrying 4
raw 20000000 e8030000 03000000 01000000 02000000 00000000 01000000 41424344
# kind 9, then kind 2 (a request, never sent by the service)
raw 1c000000 e8030000 09000000 00000000 00000000 00000000 00000000
raw 1c000000 e8030000 02000000 0e0000f0 00000000 00000000 00000000
# an event for adapter 1: no one on this bus subscribes to it
raw 1c000000 e8030100 03000000 01000000 02000000 07000000 00000000
send HW_EVENT NOTIFY_PSTN_RING info=1
expect CALL_EVENT CALL_STATUS_ROUTING
# a header of Size 8: the stream can not be followed further
raw 08000000 e8030000 03000000 01000000 02000000 00000000 00000000
wait-agent timeout=10000
send HW_EVENT NOTIFY_PSTN_RING info=2
expect CALL_EVENT CALL_STATUS_INPROGRESS
# half a header, then the pipe breaks
raw 1c000000 e8030000 03000000
break
wait-agent timeout=10000
send HW_EVENT NOTIFY_PSTN_RING info=3
expect CALL_EVENT CALL_STATUS_FINISHED
send HW_EVENT SM_INITIALIZED
sleep 200
SCRIPT

use_trace trace.txt
start_sim service "$(winpath "$WORK/service.txt")"
start probe "$PROBE" --trace "$TRACE_ARG" --events "$(winpath "$WORK/events.txt")" \
    "wait-connected timeout=20000" \
    "send AGENT_EVENT NotifyAgentStatus info=0" \
    "expect HW_EVENT NOTIFY_PSTN_RING info=1" \
    "send CALL_EVENT CALL_STATUS_ROUTING" \
    "expect HW_EVENT NOTIFY_PSTN_RING info=2 timeout=15000" \
    "send CALL_EVENT CALL_STATUS_INPROGRESS" \
    "expect HW_EVENT NOTIFY_PSTN_RING info=3 timeout=15000" \
    "send CALL_EVENT CALL_STATUS_FINISHED" \
    "expect HW_EVENT SM_INITIALIZED"

expect_status probe 0 90
expect_status service 0 60

# The owner got the four real events and nothing of the faulty ones.
[ "$(count_lines events.txt "EVENT ")" = 4 ] || fail "the owner got other than 4 events"
expect_order events.txt \
    "EVENT MSG_TYPE_HW_EVENT NOTIFY_PSTN_RING info=1" \
    "EVENT MSG_TYPE_HW_EVENT NOTIFY_PSTN_RING info=2" \
    "EVENT MSG_TYPE_HW_EVENT NOTIFY_PSTN_RING info=3" \
    "EVENT MSG_TYPE_HW_EVENT SM_INITIALIZED info=0"

expect_order trace.txt \
    "IOMAN: Phase: 2 => 3" \
    "IOMAN: WARNING: Can not convert iBusMessage =>IMM" \
    "IOMAN: WARNING: Unknown private message received (ID=9)" \
    "IOMAN: WARNING: Unexpected VCORE_IBUS_ID_GENERIC_MESSAGE received" \
    "Event from Adapter: MSG_TYPE_HW_EVENT: NOTIFY_PSTN_RING, Info = 0x1" \
    "IOMAN: Phase: 3 => 4" "IOMAN: Phase: 4 => 1" "IOMAN: Phase: 1 => 2" "IOMAN: Phase: 2 => 3" \
    "Event from Adapter: MSG_TYPE_HW_EVENT: NOTIFY_PSTN_RING, Info = 0x2" \
    "IOMAN: Phase: 3 => 4" "IOMAN: Phase: 4 => 1" "IOMAN: Phase: 1 => 2" "IOMAN: Phase: 2 => 3" \
    "Event from Adapter: MSG_TYPE_HW_EVENT: NOTIFY_PSTN_RING, Info = 0x3"
# Only the impossible header and the break cost the connection.
[ "$(count_text trace.txt "IOMAN: Phase: 3 => 4")" = 2 ] || fail "other than 2 losses in the trace"
expect_no_text trace.txt "Info = 0x7"

expect_order service.log \
    "RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_ROUTING" "TX RAW 28 bytes: 08000000 e8030000" \
    "IOMAN agent disconnected" "IOMAN agent connected" "IOMAN greeting adapter=0" \
    "TX RAW 12 bytes: 1c000000 e8030000 03000000" "IOMAN break" "IOMAN greeting adapter=0" \
    "RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_FINISHED"
echo "PASS"
