# Sourced by the TelTel system-test drivers: the agent's helpers (tests/agent/system), plus
# the TelTel stand-in: its control program, the library's two builds, an installation of
# the agent with a library beside it in the build's Wine prefix, and the control pipe's
# name, which the agent gets through its environment (no other test's stand-in answers it).
source "$(dirname "${BASH_SOURCE[0]}")/../../agent/system/agent-lib.sh"

TELTELSIM="$BUILD_DIR/tools/TelTelSim/TelTelSim.exe"
TELTEL_LIBRARY="$BUILD_DIR/tools/TelTelSim/TelTelAPI.DLL"
TELTEL_LACKING_LIBRARY="$BUILD_DIR/tools/TelTelSim/lacking/TelTelAPI.DLL"
TELTEL_RECORD=000c000050000000 # SoftPhoneType: TelTel (index 10) with its CRC-8 byte
export ORVIN_TELTELSIM_PIPE="OrvinTelTelTest-$$"

PREFIX=$("$WINE_RUN" --env | sed -n 's/^WINEPREFIX=\([^ ]*\) .*/\1/p')
[ -n "$PREFIX" ] || fail "no Wine prefix from $WINE_RUN --env"
INSTALLED=""

remove_installation() {
    if [ -n "$INSTALLED" ]; then
        rm -rf "$INSTALLED"
        rmdir "$(dirname "$INSTALLED")" 2>/dev/null || true
    fi
}
at_exit remove_installation

# install_agent NAME LIBRARY: OrvinAgent.exe with LIBRARY as TelTelAPI.DLL beside it, in
# C:\OrvinTest\NAME of the prefix (removed at the end); AGENT_WIN is the program's path.
install_agent() {
    INSTALLED="$PREFIX/drive_c/OrvinTest/$1"
    rm -rf "$INSTALLED"
    mkdir -p "$INSTALLED"
    cp "$AGENT" "$INSTALLED/OrvinAgent.exe"
    cp "$2" "$INSTALLED/TelTelAPI.DLL"
    AGENT_WIN="C:\\OrvinTest\\$1\\OrvinAgent.exe"
}

# start_teltel NAME SCRIPT: the control program with its log in $WORK/NAME.log; returns once
# it serves the pipe.
start_teltel() {
    start "$1" "$TELTELSIM" --pipe "$ORVIN_TELTELSIM_PIPE" --log "$(winpath "$WORK/$1.log")" "$2"
    wait_text "$1.log" "] serving " 30
}

# shutdown_agent: the application manager's shutdown command, as an installer sends it.
# OrvinAppCtl traces too: to a file of its own, so that it does not write over the agent's.
shutdown_agent() {
    reg_add "$TRACE_KEY" /v DebugFile /d "$(winpath "$WORK/appctl-trace.txt")"
    "$WINE_RUN" "$APPCTL" shutdown 2 </dev/null >"$WORK/appctl.out" 2>&1 || fail "OrvinAppCtl shutdown 2 failed"
}
