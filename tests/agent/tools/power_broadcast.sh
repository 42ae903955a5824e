#!/usr/bin/env bash
# What reaches every top-level window, run alone: the power event sent to all windows as
# the system sends it, where one refuses (PowerProbe.exe --deny), and the monitor's
# commands broadcast while it knows no engine (lParam 2 and 8 reach the probe).
. "$(dirname "$0")/toolstest-lib.sh"

DENIAL='Active session - Power state change request denied !'

start probe "$PROBE" --log "$(winpath "$WORK/probe.log")" --deny --no-announce --exit-after 60000
wait_text probe.log "window=" 30
PRB=$(window_of probe.log)

# 1. Every window is asked; the probe refuses after its box is confirmed.
run all 60 "$POWER" query-suspend --dismiss --timeout 3000
[ "$STATUS" = 0 ] || fail "all exited with $STATUS"
expect_text all.out "dismissed \"$DENIAL\""
expect_text all.out "window=$PRB answer=0x424D5144 title=\"MessageOnlyWindowTitle\""
expect_line all.out "denied 1"
expect_count probe.log "power event=0 lParam=1" 1

# 2. The monitor knows no engine (the probe never announced itself): its commands go to
# every window.
run monitor 30 "$MONITOR" --log "$(winpath "$WORK/monitor.log")" --registry-changed --shutdown-agent
[ "$STATUS" = 0 ] || fail "monitor exited with $STATUS"
MON=$(window_of monitor.log)
expect_status probe 0 30 # ended by the broadcast shutdown command
expect_order probe.log "channel wParam=$MON lParam=1" "channel wParam=$MON lParam=2" "channel wParam=$MON lParam=8"
expect_order monitor.log "TX broadcast wParam=$MON lParam=2 MonitorNotifyRegistryChanges" \
    "RX wParam=$MON lParam=2 MonitorNotifyRegistryChanges (self)" \
    "TX broadcast wParam=$MON lParam=8 MonitorNotifyAgentShutdown"
echo "PASS"
