# Sourced by the Skype stand-in's system-test drivers: the common helpers of
# tests/lib/systest-lib.sh (starting programs under Wine, bounded waits, checks that fail
# when what they read is not there, clean-up however the driver ends), plus SkypeSim.exe
# and SkypePeer.exe with their scripts.
#
# The driver runs under CTest, which gives WINE_RUN (the runner) and BUILD_DIR.
source "$(dirname "${BASH_SOURCE[0]}")/../../lib/systest-lib.sh"

SKYPESIM="$BUILD_DIR/tools/SkypeSim/SkypeSim.exe"
PEER="$BUILD_DIR/tests/skype/sim/SkypePeer.exe"
use_work "$BUILD_DIR/Testing/skype-sim/$(basename "$0" .sh)"

# script NAME: standard input to $WORK/NAME.txt (a script for either program).
script() {
    cat >"$WORK/$1.txt"
}

# start_skype NAME ARGS...: SkypeSim with the script $WORK/NAME.txt and its log in
# $WORK/NAME.log; returns once its window is open.
start_skype() {
    local name=$1
    shift
    start "$name" "$SKYPESIM" --log "$(winpath "$WORK/$name.log")" "$@" "$(winpath "$WORK/$name.txt")"
    wait_text "$name.log" "] window of class tSkMainForm.UnicodeClass open" 30
}

# start_peer NAME: SkypePeer with the script $WORK/NAME.txt.
start_peer() {
    start "$1" "$PEER" "$(winpath "$WORK/$1.txt")"
}
