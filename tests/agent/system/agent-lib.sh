# Sourced by the agent's system-test drivers: the adapter stand-in's helpers (start,
# finish, wait_text, expect_* and the clean-up of whatever is still running), plus the
# agent's own registry, its trace file and its start.
#
# The drivers point the machine-wide trace key at their own file: they run alone.
# Sourced once: a family's library that sources it too finds it there.
[ -z "${AGENT_LIB_SOURCED:-}" ] || return 0
AGENT_LIB_SOURCED=1
source "$(dirname "${BASH_SOURCE[0]}")/../../devicelink/sim/simtest-lib.sh"

AGENT="$BUILD_DIR/src/agent/OrvinAgent.exe"
APPCTL="$BUILD_DIR/tools/OrvinAppCtl/OrvinAppCtl.exe"
MONITOR="$BUILD_DIR/tools/OrvinMonitor/OrvinMonitor.exe"
POWER="$BUILD_DIR/tools/OrvinPowerEvent/OrvinPowerEvent.exe"
ROOT='SOFTWARE\OrvinTest\Adapter'
ROOT_KEY="HKLM\\$ROOT"

reg_add() {
    "$WINE_RUN" reg add "$@" /f </dev/null >/dev/null 2>&1 || fail "reg add $*"
}

# agent_registry [SOFTPHONE-TYPE-HEX]: a fresh registry root for the answering-machine
# client (type 8 unless told) and the trace key pointing at $WORK/trace.txt.
agent_registry() {
    local record=${1:-00c00000b8000000}
    "$WINE_RUN" reg delete "$ROOT_KEY" /f </dev/null >/dev/null 2>&1 || true
    reg_add "$ROOT_KEY" /v ApplicationName /d OrvinAgent
    reg_add "$ROOT_KEY\\Config\\General" /v SoftPhoneType /t REG_BINARY /d "$record"
    reg_add "$ROOT_KEY\\Config\\UI" /v Enable /t REG_DWORD /d 1
    SIM_TRACE_SET=1
    reg_add "$TRACE_KEY" /v DebugType /t REG_DWORD /d 3
    reg_add "$TRACE_KEY" /v DebugFile /d "$(winpath "$WORK/trace.txt")"
    rm -f "$WORK/trace.txt"
}

# The stand-in reporting the test's root as adapter 0's software key.
start_service() {
    local name=$1
    shift
    start_sim "$name" --key0 "$ROOT" "$@"
}
