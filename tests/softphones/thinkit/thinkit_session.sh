#!/usr/bin/env bash
# The telephone as a ThinkIt handset: the agent (softphone type 2) with the adapter stand-in
# and the ThinkIt stand-in, each playing its part of the demo session: a contact's call
# rings the telephone at once and then with her number and handle and is answered on the
# handset, keys go to the far end as "set call N dtmf K" and a key comes back, the handset
# hangs up; a second call is ended by the far end; 555 is dialled on VoIP with the send
# key, and on the PSTN line 4 (nobody's speed dial) is refused with ERROR_UNKNOWN_USER and 2
# (bob's) is called; ThinkIt goes away and comes back (the agent detaches, tells the
# service, and attaches again). Both scripts meet every expectation and ThinkIt finds no
# fault in what the agent sent; the service saw the agent's statuses exactly in order, the
# installer's shutdown included.
source "$(dirname "$0")/../../agent/system/agent-lib.sh"

THINKITSIM="$BUILD_DIR/tools/ThinkItSim/ThinkItSim.exe"
DEMO="$(cd "$(dirname "$0")/../../../data/demo" && pwd)"
agent_registry 0000005c93000000 # ThinkIt, type 2

# The demo's service script, and then the shutdown's statuses.
{
    cat "$DEMO/demo-service-thinkit.txt"
    echo 'expect AGENT_EVENT NotifyAgentStatus info=2 timeout=60000   # detached at the shutdown'
    echo 'expect AGENT_EVENT NotifyAgentStatus info=3 timeout=30000   # closing'
} >"$WORK/service.txt"
start_service service "$(winpath "$WORK/service.txt")"
start thinkit "$THINKITSIM" --log "$(winpath "$WORK/thinkit.log")" "$(winpath "$DEMO/demo-thinkit.txt")"
wait_text thinkit.log "] window of class TThinkItMainForm open" 30
start agent "$AGENT"
expect_status thinkit 0 180
# As an installer would; OrvinAppCtl traces to a file of its own, so that it does not start
# the agent's anew.
reg_add "$TRACE_KEY" /v DebugFile /d "$(winpath "$WORK/appctl-trace.txt")"
"$WINE_RUN" "$APPCTL" shutdown 2 </dev/null >"$WORK/appctl.out" 2>&1 || fail "OrvinAppCtl shutdown 2 failed"
expect_status agent 0 30
expect_status service 0 30

expect_text trace.txt "InitializeSoftPhone: SP = 2:  created"
expect_order trace.txt "[AG-->SF]==>SET CALL 1001 Status inprogress" "[AG-->SF]==>set call 1001 dtmf 4" \
    "[AG-->SF]==>set call 1001 dtmf 2" "[AG-->SF]==>SET CALL 1001 Status finished" "[AG-->SF]==>CALL 555" \
    "[AG-->SF]==>CALL 2" "!!! THINKIT API not available" "!!! Try connect now (API available)"
expect_no_text trace.txt "[AG-->SF]==>CALL 4"
expect_no_text trace.txt "Already discovered!"
expect_no_text thinkit.log "ERROR"
expect_no_text thinkit.log "] RX CALL 4"

# Every NotifyAgentStatus, in order: alive; connected, again when the adapter attached, and
# once more when the last friend's status completed the start; ThinkIt gone and back;
# detached and closing at the shutdown.
statuses=$(tr -d '\r' <"$WORK/service.log" | sed -n 's/.*\] RX IMM MSG_TYPE_AGENT_EVENT NotifyAgentStatus info=\([0-9]*\).*/\1/p' |
    tr '\n' ' ')
[ "$statuses" = "0 1 1 1 2 1 2 3 " ] || fail "the service saw NotifyAgentStatus $statuses(expected 0 1 1 1 2 1 2 3)"
echo "PASS"
