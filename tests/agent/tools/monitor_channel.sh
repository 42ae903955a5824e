#!/usr/bin/env bash
# The monitor's stand-in against a window that stands where the agent's message engine
# stands (PowerProbe.exe), on "WM_APP_MESSAGE_CHANNEL": wParam is always the sender's
# window. The monitor announces itself with lParam 1, answers an engine's announcement
# (lParam 0) directly with lParam 1, and sends registry-changed as lParam 2 and
# shutdown-agent as lParam 8 to the engine it knows; from its command line, from the
# environment the agent passes on, and from standard input.
. "$(dirname "$0")/toolstest-lib.sh"

# 1. The monitor first: it learns the engine from the engine's announcement.
start monitor "$MONITOR" -hide --log "$(winpath "$WORK/monitor.log")" --engine-process PowerProbe.exe \
    --wait-engine 20000 --registry-changed --shutdown-agent --exit-after 300
wait_text monitor.log "broadcast done" 30
MON=$(window_of monitor.log)
start probe "$PROBE" --log "$(winpath "$WORK/probe.log")" --exit-after 20000
expect_status probe 0 30 # ended by the shutdown command
expect_status monitor 0 30
PRB=$(window_of probe.log)

expect_text monitor.log "window=$MON channel=0x"
expect_text monitor.log "hide=1"
expect_order probe.log \
    "window=$PRB" \
    "channel wParam=$MON lParam=1" \
    "channel wParam=$MON lParam=2" \
    "channel wParam=$MON lParam=8" \
    "exit 0"
expect_count probe.log "channel wParam=$MON " 3
expect_order monitor.log \
    "TX broadcast wParam=$MON lParam=1 (monitor announcement)" \
    "RX wParam=$MON lParam=1 (monitor announcement) (self)" \
    "RX wParam=$PRB lParam=0 (engine announcement) from PowerProbe.exe" \
    "engine $PRB known (PowerProbe.exe)" \
    "TX to=$PRB wParam=$MON lParam=1 (monitor announcement) result=1" \
    "done: wait-engine 20000" \
    "TX to=$PRB wParam=$MON lParam=2 MonitorNotifyRegistryChanges result=1" \
    "TX to=$PRB wParam=$MON lParam=8 MonitorNotifyAgentShutdown result=1" \
    "exit 0"

# 2. The engine first: the monitor's broadcast announcement reaches it; the monitor does
# not know the engine (it announced itself before the monitor was there).
start probe2 "$PROBE" --log "$(winpath "$WORK/probe2.log")" --exit-after 20000
wait_text probe2.log "announced" 30
PRB2=$(window_of probe2.log)
run monitor2 30 "$MONITOR" --log "$(winpath "$WORK/monitor2.log")" --engine-process PowerProbe.exe \
    --exit-after 300
[ "$STATUS" = 0 ] || fail "monitor2 exited with $STATUS"
MON2=$(window_of monitor2.log)
expect_text probe2.log "channel wParam=$MON2 lParam=1"
expect_no_text monitor2.log "known"
# With an engine the monitor has not learnt, wait-engine fails after its time (1).
run monitor3 30 "$MONITOR" --log "$(winpath "$WORK/monitor3.log")" --engine-process PowerProbe.exe \
    --script "wait-engine 300; registry-changed"
[ "$STATUS" = 1 ] || fail "monitor3 exited with $STATUS, expected 1 (wait-engine timed out)"
expect_text monitor3.log "ERROR wait-engine 300: no engine announced itself within 300 ms"
expect_no_text monitor3.log "lParam=2"
expect_no_text probe2.log "lParam=2"
stop probe2

# 3. Started as the agent starts it ("PATH" -hide), with a log and a script from the
# environment.
export ORVIN_MONITOR_LOG ORVIN_MONITOR_SCRIPT
ORVIN_MONITOR_LOG=$(winpath "$WORK/monitor4.log")
ORVIN_MONITOR_SCRIPT="wait-engine 20000; send 5; shutdown-agent"
start monitor4 "$MONITOR" -hide
unset ORVIN_MONITOR_LOG ORVIN_MONITOR_SCRIPT
wait_text monitor4.log "broadcast done" 30
MON4=$(window_of monitor4.log)
start probe4 "$PROBE" --log "$(winpath "$WORK/probe4.log")" --exit-after 20000
expect_status probe4 0 30
expect_status monitor4 0 30
PRB4=$(window_of probe4.log)
expect_order probe4.log "channel wParam=$MON4 lParam=1" "channel wParam=$MON4 lParam=5" \
    "channel wParam=$MON4 lParam=8"
expect_text monitor4.log "hide=1"
expect_text monitor4.log "TX to=$PRB4 wParam=$MON4 lParam=5 (unknown command) result=1"

# 4. Interactive: commands from standard input, each run as it comes.
mkfifo "$WORK/input"
INPUT="$WORK/input" start monitor5 "$MONITOR" --log "$(winpath "$WORK/monitor5.log")" \
    --engine-process PowerProbe.exe --interactive
exec 7>"$WORK/input"
wait_text monitor5.log "broadcast done" 30
MON5=$(window_of monitor5.log)
echo "wait-engine 20000" >&7
start probe5 "$PROBE" --log "$(winpath "$WORK/probe5.log")" --exit-after 20000
wait_text monitor5.log "done: wait-engine 20000" 30
PRB5=$(window_of probe5.log)
printf '%s\n' "# a comment" "registry-changed" "sleep 100" "registry-changed" "shutdown-agent" "quit" >&7
expect_status probe5 0 30
expect_status monitor5 0 30
exec 7>&-
expect_order probe5.log "channel wParam=$MON5 lParam=1" "channel wParam=$MON5 lParam=2" \
    "channel wParam=$MON5 lParam=2" "channel wParam=$MON5 lParam=8"
expect_order monitor5.log "engine $PRB5 known" "done: registry-changed" "done: sleep 100" "done: registry-changed" \
    "done: shutdown-agent" "done: quit" "exit 0"

# 5. Bad usage (2): before any window is made or anything is sent.
run bad1 30 "$MONITOR" --frobnicate
[ "$STATUS" = 2 ] || fail "an unknown option gave $STATUS, expected 2"
run bad2 30 "$MONITOR" --script "registry-changed; frobnicate"
[ "$STATUS" = 2 ] || fail "an unknown command gave $STATUS, expected 2"
expect_text bad2.err "unknown command 'frobnicate'"
expect_no_text bad2.out "TX"
run bad3 30 "$MONITOR" --wait-engine soon
[ "$STATUS" = 2 ] || fail "a bad time gave $STATUS, expected 2"
echo "PASS"
