#!/usr/bin/env bash
# The stand-in's measure command: the agent's SendEvent to the stand-in's read. A real
# CIoManager (IoManProbe's burst: info 0, 1, 2 ..., buf1 the performance counter before
# each SendEvent) against measure: one line of figures on standard output, also with
# --quiet, and other messages passed over; events out of order or missing (written by
# RawPipeClient.exe) fail the command.
. "$(dirname "$0")/simtest-lib.sh"

FIGURES='^measure: count=([0-9]+) median_ms=(-?[0-9]+\.[0-9]{3}) p99_ms=(-?[0-9]+\.[0-9]{3}) min_ms=(-?[0-9]+\.[0-9]{3}) max_ms=(-?[0-9]+\.[0-9]{3}) in_order=1$'

cat >"$WORK/timed.txt" <<'SCRIPT'
wait-agent timeout=20000
measure 30 CALL_EVENT CALL_STATUS_RINGING timeout=10000
measure 5 CALL_EVENT CALL_STATUS_RINGING
send HW_EVENT SM_INITIALIZED                   # the probe may go
sleep 200
SCRIPT
start_sim timed --quiet "$(winpath "$WORK/timed.txt")"
start timed-probe "$PROBE" "wait-connected timeout=20000" \
    "send AGENT_EVENT NotifyAgentStatus info=0" \
    "send CALL_EVENT CALL_STATUS_BUSY info=1" \
    "send-generic internal=3 value=0" \
    "burst 30 CALL_EVENT CALL_STATUS_RINGING interval=10" \
    "send CALL_EVENT CALL_STATUS_BUSY info=99 buf1=x" \
    "burst 5 CALL_EVENT CALL_STATUS_RINGING" \
    "expect HW_EVENT SM_INITIALIZED timeout=20000"
expect_status timed-probe 0 90
expect_status timed 0 60

# Standard output holds the two lines of figures and nothing else, quiet as it is.
tr -d '\r' <"$WORK/timed.out" >"$WORK/timed.lines"
[ "$(wc -l <"$WORK/timed.lines")" = 2 ] || fail "other than 2 lines on the stand-in's standard output"
n=0
while read -r line; do
    n=$((n + 1))
    [[ $line =~ $FIGURES ]] || fail "not a line of figures: $line"
    count=${BASH_REMATCH[1]} median=${BASH_REMATCH[2]} p99=${BASH_REMATCH[3]} min=${BASH_REMATCH[4]} \
        max=${BASH_REMATCH[5]}
    [ "$count" = "$([ $n = 1 ] && echo 30 || echo 5)" ] || fail "line $n counts $count events"
    # Times on one clock, in order, and well within the run.
    awk -v a="$min" -v b="$median" -v c="$p99" -v d="$max" \
        'BEGIN { exit !(0 <= a && a <= b && b <= c && c <= d && d < 5000) }' ||
        fail "figures out of order or range: $line"
done <"$WORK/timed.lines"
# Passed over: what came before the first burst, and the event between the bursts.
expect_order timed.log "passed over by measure at line 2: IMM MSG_TYPE_AGENT_EVENT NotifyAgentStatus" \
    "passed over by measure at line 2: IMM MSG_TYPE_CALL_EVENT CALL_STATUS_BUSY info=1" \
    "passed over by measure at line 2: GENERIC ioctl=0xf000000e"
expect_text timed.log "passed over by measure at line 3: IMM MSG_TYPE_CALL_EVENT CALL_STATUS_BUSY info=99 buf1=x"
expect_text timed.log "measure: count=30 "

# Events lost or out of order: info 0, 1, 3 (2 missing); info 1 first; an event of the
# measured type and code is measured, whatever its info.
le32() {
    printf '%02x%02x%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255))
}
# ringing INFO: CALL_EVENT (0) CALL_STATUS_RINGING (4), buf1 = "1000", extra 0xF000000A.
ringing() {
    printf '%s' "$(le32 64)$(le32 0x03E80000)$(le32 3)$(le32 0)$(le32 4)$(le32 "$1")$(le32 0x11)"
    printf '31303030%056d' 0
    le32 0xF000000A
}
echo "wait-agent timeout=20000" >"$WORK/order.txt"
echo "measure 5 CALL_EVENT CALL_STATUS_RINGING timeout=5000" >>"$WORK/order.txt"
ORDER=$(winpath "$WORK/order.txt")

start_sim gap "$ORDER"
start gap-client "$RAW" connect "write $(le32 0)$(ringing 0)$(ringing 1)$(ringing 3)$(ringing 4)" "sleep 3000" close
expect_status gap 1 60
expect_text gap.err "line 2: measure 5 CALL_EVENT CALL_STATUS_RINGING timeout=5000: event 3 of 5 arrived with info=3, not 2: events lost or out of order"
expect_no_text gap.out "measure: count="

start_sim swapped "$ORDER"
start swapped-client "$RAW" connect "write $(le32 0)$(ringing 1)$(ringing 0)" "sleep 3000" close
expect_status swapped 1 60
expect_text swapped.err "event 1 of 5 arrived with info=1, not 0"

# Fewer than COUNT: the time-out for the next one.
start_sim short "$ORDER"
start short-client "$RAW" connect "write $(le32 0)$(ringing 0)$(ringing 1)" "sleep 8000" close
expect_status short 1 60
expect_text short.err "measured 2 of 5 events; the next did not arrive within 5000 ms"
echo "PASS"
