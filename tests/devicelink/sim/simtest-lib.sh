# Sourced by the adapter stand-in's system-test drivers: the common helpers of
# tests/lib/systest-lib.sh (starting programs under Wine, bounded waits, checks that fail
# when what they read is not there, clean-up however the driver ends), plus
# OrvinAdapterSim.exe, IoManProbe.exe and RawPipeClient.exe, the stand-in's start and the
# machine-wide trace key.
#
# The driver runs under CTest, which gives WINE_RUN (the runner) and BUILD_DIR.
source "$(dirname "${BASH_SOURCE[0]}")/../../lib/systest-lib.sh"

SIM="$BUILD_DIR/tools/OrvinAdapterSim/OrvinAdapterSim.exe"
PROBE="$BUILD_DIR/tests/devicelink/sim/IoManProbe.exe"
RAW="$BUILD_DIR/tests/devicelink/sim/RawPipeClient.exe"
use_work "$BUILD_DIR/Testing/devicelink-sim/$(basename "$0" .sh)"

TRACE_KEY='HKLM\Software\Velcora\Quendo'

# At the end the trace key goes, when the driver pointed it at its own file.
clear_trace_key() {
    if [ "${SIM_TRACE_SET:-0}" = 1 ]; then
        "$WINE_RUN" reg delete "$TRACE_KEY" /f </dev/null >/dev/null 2>&1 || true
    fi
}
at_exit clear_trace_key

# start_sim NAME ARGS...: the stand-in with its log in $WORK/NAME.log; returns once it
# serves (as its log says: standard output stays empty with --quiet).
start_sim() {
    local name=$1
    shift
    start "$name" "$SIM" --log "$(winpath "$WORK/$name.log")" "$@"
    wait_text "$name.log" "] serving " 30
}

# use_trace NAME: sets TRACE_ARG to the Windows path of $WORK/NAME, for the probe's
# --trace (which points the trace key at that file and takes it away again). Only for
# drivers that run alone: every process of the machine reads that key. The key goes
# also when the driver fails.
use_trace() {
    SIM_TRACE_SET=1
    TRACE_ARG=$(winpath "$WORK/$1")
}
