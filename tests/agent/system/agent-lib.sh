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

# start_service_fed: the stand-in reporting the test's root, reading its commands one at a
# time from a fifo (--interactive, its log service.log); service CMD [SECONDS] runs one
# and returns once the log says it is done (a failed line fails the test).
start_service_fed() {
    mkfifo "$WORK/service.in"
    INPUT="$WORK/service.in" start service "$SIM" --log "$(winpath "$WORK/service.log")" --key0 "$ROOT" --interactive
    exec {SERVICE_FD}>"$WORK/service.in"
    SERVICE_LINES=0
    wait_text service.log "] serving " 30
}
service() {
    printf '%s\n' "$1" >&"$SERVICE_FD"
    SERVICE_LINES=$((SERVICE_LINES + 1))
    local deadline=$((SECONDS + ${2:-60}))
    until grep -qF -- "] line $SERVICE_LINES done: " "$WORK/service.log" 2>/dev/null; do
        if grep -qF -- "ERROR line $SERVICE_LINES: " "$WORK/service.log" 2>/dev/null; then
            fail "the stand-in's line $SERVICE_LINES failed: $1"
        fi
        [ $SECONDS -lt $deadline ] || fail "the stand-in did not do its line $SERVICE_LINES within ${2:-60} s: $1"
        sleep 0.05
    done
}
# end_service: the stand-in's input ends; it must end with status 0.
end_service() {
    exec {SERVICE_FD}>&-
    expect_status service 0 30
}
