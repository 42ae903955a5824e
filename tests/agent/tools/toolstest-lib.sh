# Sourced by the drivers of the sibling-program stand-ins' tests: the common helpers of
# tests/lib/systest-lib.sh (starting programs under Wine, bounded waits, checks that fail
# when what they read is not there, clean-up however the driver ends), plus
# OrvinMonitor.exe, OrvinPowerEvent.exe and PowerProbe.exe and the windows they name.
#
# The driver runs under CTest, which gives WINE_RUN (the runner) and BUILD_DIR.
source "$(dirname "${BASH_SOURCE[0]}")/../../lib/systest-lib.sh"

MONITOR="$BUILD_DIR/tools/OrvinMonitor/OrvinMonitor.exe"
POWER="$BUILD_DIR/tools/OrvinPowerEvent/OrvinPowerEvent.exe"
PROBE="$BUILD_DIR/tests/agent/tools/PowerProbe.exe"
use_work "$BUILD_DIR/Testing/agent-tools/$(basename "$0" .sh)"

# window_of FILE: the handle of the first "window=0x..." in FILE (the program's own
# window, which every program here names first); fails without one.
window_of() {
    need_file "$1"
    local handle
    handle=$(grep -o -m 1 'window=0x[0-9A-F]*' "$WORK/$1" | head -n 1 | cut -d= -f2) || true
    [ -n "$handle" ] || fail "$1 names no window"
    printf '%s\n' "$handle"
}
