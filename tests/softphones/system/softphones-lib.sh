# Sourced by the softphone system-test drivers: the agent's helpers (tests/agent/system),
# the softphone stand-ins, the demo's scripts, and a look at the order of what the service
# heard.
source "$(dirname "${BASH_SOURCE[0]}")/../../agent/system/agent-lib.sh"
use_work "$BUILD_DIR/Testing/softphones/$(basename "$0" .sh)"

EYEBEAMSIM="$BUILD_DIR/tools/EyeBeamSim/EyeBeamSim.exe"
QQSIM="$BUILD_DIR/tools/QQSim/QQSim.exe"
DEMO="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../../data/demo" && pwd)"

# start_softphone NAME PROGRAM CLASS: the stand-in with the script $WORK/NAME.txt and its
# log in $WORK/NAME.log; returns once its window (of class CLASS) is open.
start_softphone() {
    local name=$1 program=$2 class=$3
    start "$name" "$program" --log "$(winpath "$WORK/$name.log")" "$(winpath "$WORK/$name.txt")"
    wait_text "$name.log" "] window of class $class open" 30
}

# agent_statuses FILE: the Info of every NotifyAgentStatus in the adapter stand-in's log
# FILE, in the order received, on one line.
agent_statuses() {
    need_file "$1"
    tr -d '\r' <"$WORK/$1" | sed -n 's/.* RX IMM MSG_TYPE_AGENT_EVENT NotifyAgentStatus info=\([0-9]*\).*/\1/p' |
        tr '\n' ' ' | sed 's/ $//'
}

# expect_statuses FILE LIST: the service heard exactly these NotifyAgentStatus values, in order.
expect_statuses() {
    local heard
    heard=$(agent_statuses "$1")
    [ "$heard" = "$2" ] || fail "NotifyAgentStatus values heard: '$heard', expected '$2'"
}

# shutdown_agent: the application manager's shutdown command, as an installer sends it.
# OrvinAppCtl traces to a file of its own: the agent's trace file stays whole.
shutdown_agent() {
    reg_add "$TRACE_KEY" /v DebugFile /d "$(winpath "$WORK/appctl-trace.txt")"
    "$WINE_RUN" "$APPCTL" shutdown 2 </dev/null >"$WORK/appctl.out" 2>&1 || fail "OrvinAppCtl shutdown 2 failed"
}
