# Sourced by the Skype stand-in's system-test drivers: SkypeSim.exe and SkypePeer.exe
# started under Wine, waited for with time-outs, and killed however the driver ends; the
# checks on their output are the adapter stand-in's (each fails when what it reads is not
# there).
#
# The driver runs under CTest, which gives WINE_RUN (the runner) and BUILD_DIR.
set -euo pipefail

: "${WINE_RUN:?WINE_RUN is set by CTest}"
: "${BUILD_DIR:?BUILD_DIR is set by CTest}"

SKYPESIM="$BUILD_DIR/tools/SkypeSim/SkypeSim.exe"
PEER="$BUILD_DIR/tests/skype/sim/SkypePeer.exe"
WORK="$BUILD_DIR/Testing/skype-sim/$(basename "$0" .sh)"
rm -rf "$WORK"
mkdir -p "$WORK"

declare -A STARTED=() # name -> pid of a program still to be waited for

cleanup() {
    local status=$?
    for name in "${!STARTED[@]}"; do
        kill -9 "${STARTED[$name]}" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    if [ $status -ne 0 ]; then
        echo "---- files in $WORK"
        for f in "$WORK"/*; do
            [ -f "$f" ] || continue
            echo "---- $(basename "$f")"
            tail -n 60 "$f"
        done
    fi
    exit $status
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

winpath() {
    printf 'Z:%s' "${1//\//\\}"
}

# start NAME PROGRAM.exe ARGS...: in the background, output in $WORK/NAME.out and .err.
start() {
    local name=$1
    shift
    "$WINE_RUN" "$@" </dev/null >"$WORK/$name.out" 2>"$WORK/$name.err" &
    STARTED[$name]=$!
}

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
    local deadline=$((SECONDS + 30))
    until grep -qF "] window of class tSkMainForm.UnicodeClass open" "$WORK/$name.log" 2>/dev/null; do
        kill -0 "${STARTED[$name]}" 2>/dev/null || fail "$name ended before its window opened"
        [ $SECONDS -lt $deadline ] || fail "$name did not open its window"
        sleep 0.1
    done
}

# start_peer NAME: SkypePeer with the script $WORK/NAME.txt.
start_peer() {
    start "$1" "$PEER" "$(winpath "$WORK/$1.txt")"
}

# finish NAME SECONDS: waits for NAME to end and sets STATUS to its exit status.
finish() {
    local name=$1 pid=${STARTED[$1]} deadline=$((SECONDS + $2))
    while kill -0 "$pid" 2>/dev/null; do
        if [ $SECONDS -ge $deadline ]; then
            kill -9 "$pid" 2>/dev/null || true
            fail "$name still running after $2 s"
        fi
        sleep 0.1
    done
    STATUS=0
    wait "$pid" || STATUS=$?
    unset "STARTED[$name]"
}

# expect_status NAME STATUS SECONDS
expect_status() {
    finish "$1" "$3"
    [ "$STATUS" = "$2" ] || fail "$1 exited with $STATUS, expected $2"
}

need_file() {
    [ -f "$WORK/$1" ] || fail "$1 is missing"
}

# expect_text FILE TEXT: FILE holds TEXT somewhere.
expect_text() {
    need_file "$1"
    grep -qF -- "$2" "$WORK/$1" || fail "$1 lacks: $2"
}

# expect_no_text FILE TEXT: FILE exists and does not hold TEXT.
expect_no_text() {
    need_file "$1"
    if grep -qF -- "$2" "$WORK/$1"; then
        fail "$1 holds: $2"
    fi
}

# expect_order FILE TEXT...: FILE holds lines with each TEXT, in this order.
expect_order() {
    local file=$1 after=0 text line
    shift
    need_file "$file"
    for text in "$@"; do
        line=$(FROM=$after TEXT=$text awk 'NR > ENVIRON["FROM"] && index($0, ENVIRON["TEXT"]) { print NR; exit }' \
            "$WORK/$file")
        [ -n "$line" ] || fail "$file lacks, after line $after: $text"
        after=$line
    done
}
