#!/usr/bin/env bash
# The power-event sender against a window that refuses standby the way the agent does
# (PowerProbe.exe --deny): a query to suspend (PBT_APMQUERYSUSPEND, 0, lParam 1) is
# answered with BROADCAST_QUERY_DENY (0x424D5144) once the system-modal box with the
# denial text has been confirmed, which --dismiss does, printing the box's text. Other
# events are answered with 1. Only the probe's windows are asked: other tests' windows
# share the wine server.
. "$(dirname "$0")/toolstest-lib.sh"

DENIAL='Active session - Power state change request denied !'

start probe "$PROBE" --log "$(winpath "$WORK/probe.log")" --deny --no-announce --exit-after 60000
wait_text probe.log "window=" 30
PRB=$(window_of probe.log)

# 1. A query to suspend, refused after the box is confirmed.
run query 30 "$POWER" query-suspend --title MessageOnlyWindowTitle --process PowerProbe.exe --dismiss
[ "$STATUS" = 0 ] || fail "query exited with $STATUS"
expect_line query.out "event 0 (query-suspend) lParam=1 to 1 window(s)"
expect_order query.out \
    "dismissed \"$DENIAL\" caption=\"OrvinAgent\"" \
    "window=$PRB answer=0x424D5144 title=\"MessageOnlyWindowTitle\" class=\"PowerProbeWindow\" process=PowerProbe.exe"
expect_line query.out "answered 1"
expect_line query.out "denied 1"
expect_order probe.log "power event=0 lParam=1" "box closed result=1" "answer=0x424D5144"

# 2. Other events by name and by number: answered with 1, no box.
run suspend 30 "$POWER" suspend --window "$PRB" --dismiss
[ "$STATUS" = 0 ] || fail "suspend exited with $STATUS"
expect_line suspend.out "event 4 (suspend) lParam=0 to 1 window(s)"
expect_text suspend.out "window=$PRB answer=0x1 "
expect_line suspend.out "denied 0"
expect_no_text suspend.out "dismissed"
run failed 30 "$POWER" query-suspend-failed --window "$PRB"
expect_text failed.out "window=$PRB answer=0x1 "
run status 30 "$POWER" power-status-change --window "$PRB"
expect_text status.out "window=$PRB answer=0x1 "
run number 30 "$POWER" 7 --window "$PRB" --lparam 0x20
expect_line number.out "event 7 (resume-suspend) lParam=32 to 1 window(s)"
expect_text number.out "window=$PRB answer=0x1 "
expect_order probe.log "power event=4 lParam=0" "power event=2 lParam=0" "power event=10 lParam=0" \
    "power event=7 lParam=32"
expect_count probe.log "box closed" 1

# 3. Without --dismiss the box stays and the window does not answer in time (1).
run unanswered 30 "$POWER" query-suspend --window "$PRB" --timeout 1000
[ "$STATUS" = 1 ] || fail "unanswered exited with $STATUS, expected 1"
expect_text unanswered.out "window=$PRB no-answer error="
expect_line unanswered.out "answered 0"
stop probe

# 4. The box's text as it is, translated: whatever the agent shows is what the test reads.
TRANSLATED='Aktive Sitzung – Änderung des Energiezustands abgelehnt !'
start probe2 "$PROBE" --log "$(winpath "$WORK/probe2.log")" --deny --deny-text "$TRANSLATED" --no-announce \
    --exit-after 60000
wait_text probe2.log "window=" 30
PRB2=$(window_of probe2.log)
run translated 30 "$POWER" query-suspend --window "$PRB2" --dismiss
[ "$STATUS" = 0 ] || fail "translated exited with $STATUS"
expect_text translated.out "dismissed \"$TRANSLATED\""
expect_text translated.out "window=$PRB2 answer=0x424D5144 "
stop probe2

# 5. Nothing to ask (1), bad usage (2).
run nothing 30 "$POWER" query-suspend --title "no such window title" --process PowerProbe.exe
[ "$STATUS" = 1 ] || fail "nothing exited with $STATUS, expected 1"
expect_line nothing.out "event 0 (query-suspend) lParam=1 to 0 window(s)"
expect_line nothing.out "answered 0"
run bad1 30 "$POWER"
[ "$STATUS" = 2 ] || fail "no event gave $STATUS, expected 2"
run bad2 30 "$POWER" hibernate-now
[ "$STATUS" = 2 ] || fail "an unknown event gave $STATUS, expected 2"
run bad3 30 "$POWER" suspend --timeout
[ "$STATUS" = 2 ] || fail "a missing value gave $STATUS, expected 2"
echo "PASS"
