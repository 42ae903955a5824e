#!/usr/bin/env bash
# The service stops and comes back while the agent is connected, then breaks the pipe:
# each time the I/O manager goes 3 => 4 => 1, reconnects as soon as the pipe is back,
# greets again (1 => 2 => 3) and messages flow both ways again. Sets the trace key, so
# it runs alone.
. "$(dirname "$0")/simtest-lib.sh"

cat >"$WORK/service.txt" <<'SCRIPT'
wait-agent timeout=20000
expect AGENT_EVENT NotifyAgentStatus info=0
send HW_EVENT NOTIFY_OPEN_DEVICE info=1
expect CALL_EVENT CALL_STATUS_ROUTING         # the first exchange is over
stop-service 1500
wait-agent timeout=10000
send HW_EVENT NOTIFY_OPEN_DEVICE info=2
expect CALL_EVENT CALL_STATUS_INPROGRESS
break
wait-agent timeout=10000
send HW_EVENT NOTIFY_OPEN_DEVICE info=3
expect CALL_EVENT CALL_STATUS_FINISHED
send HW_EVENT SM_INITIALIZED                  # the probe may go
sleep 200
SCRIPT

use_trace trace.txt
start_sim service "$(winpath "$WORK/service.txt")"
start probe "$PROBE" --trace "$TRACE_ARG" --events "$(winpath "$WORK/events.txt")" \
    "wait-connected timeout=20000" \
    "send AGENT_EVENT NotifyAgentStatus info=0" \
    "expect HW_EVENT NOTIFY_OPEN_DEVICE info=1" \
    "send CALL_EVENT CALL_STATUS_ROUTING" \
    "expect HW_EVENT NOTIFY_OPEN_DEVICE info=2 timeout=15000" \
    "send CALL_EVENT CALL_STATUS_INPROGRESS" \
    "expect HW_EVENT NOTIFY_OPEN_DEVICE info=3 timeout=15000" \
    "send CALL_EVENT CALL_STATUS_FINISHED" \
    "expect HW_EVENT SM_INITIALIZED"

expect_status probe 0 90
expect_status service 0 60

expect_order trace.txt \
    "IOMAN: Phase: 0 => 1" "IOMAN: Phase: 1 => 2" "IOMAN: Phase: 2 => 3" \
    "Event from Adapter: MSG_TYPE_HW_EVENT: NOTIFY_OPEN_DEVICE, Info = 0x1" \
    "IOMAN: Phase: 3 => 4" "IOMAN: Phase: 4 => 1" "IOMAN: Phase: 1 => 2" "IOMAN: Phase: 2 => 3" \
    "Event from Adapter: MSG_TYPE_HW_EVENT: NOTIFY_OPEN_DEVICE, Info = 0x2" \
    "Event to Adapter: MSG_TYPE_CALL_EVENT: CALL_STATUS_INPROGRESS" \
    "IOMAN: Phase: 3 => 4" "IOMAN: Phase: 4 => 1" "IOMAN: Phase: 1 => 2" "IOMAN: Phase: 2 => 3" \
    "Event from Adapter: MSG_TYPE_HW_EVENT: NOTIFY_OPEN_DEVICE, Info = 0x3" \
    "Event to Adapter: MSG_TYPE_CALL_EVENT: CALL_STATUS_FINISHED" \
    "IOMAN: Thread Proc Exited"
# While the pipe was away the manager stayed in phase 1: one reconnection per outage.
[ "$(count_text trace.txt "IOMAN: Phase: 1 => 2")" = 3 ] || fail "other than 3 greetings in the trace"
[ "$(count_text trace.txt "IOMAN: Phase: 3 => 4")" = 2 ] || fail "other than 2 losses in the trace"

expect_order service.log \
    "IOMAN greeting adapter=0" "RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_ROUTING" \
    "service stopping for 1500 ms" "IOMAN connection closed by the stand-in" \
    "service stopped: no IOMAN and no HWENUM pipe" "service serving again" \
    "IOMAN greeting adapter=0" "RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_INPROGRESS" \
    "IOMAN break" "IOMAN connection closed by the stand-in" \
    "IOMAN greeting adapter=0" "RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_FINISHED" "script done"
[ "$(count_text service.log "IOMAN greeting adapter=0")" = 3 ] || fail "other than 3 greetings at the service"
echo "PASS"
