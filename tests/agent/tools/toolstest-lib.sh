# Sourced by the drivers of the sibling-program stand-ins' tests: starting
# OrvinMonitor.exe, OrvinPowerEvent.exe and PowerProbe.exe under Wine, waiting for them
# with time-outs, checking their output, and killing whatever is still running when the
# driver ends, however it ends.
#
# Every check fails when what it reads is not there: a missing file, or a missing line,
# is a failure, never an empty match.
#
# The driver runs under CTest, which gives WINE_RUN (the runner) and BUILD_DIR.
set -euo pipefail

: "${WINE_RUN:?WINE_RUN is set by CTest}"
: "${BUILD_DIR:?BUILD_DIR is set by CTest}"

MONITOR="$BUILD_DIR/tools/OrvinMonitor/OrvinMonitor.exe"
POWER="$BUILD_DIR/tools/OrvinPowerEvent/OrvinPowerEvent.exe"
PROBE="$BUILD_DIR/tests/agent/tools/PowerProbe.exe"
WORK="$BUILD_DIR/Testing/agent-tools/$(basename "$0" .sh)"
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

# The Windows form of a path on this machine (Wine's Z: drive is the root).
winpath() {
    printf 'Z:%s' "${1//\//\\}"
}

# start NAME PROGRAM.exe ARGS...: runs it in the background, output in $WORK/NAME.out and
# .err, standard input from $INPUT when set (a fifo), else none.
start() {
    local name=$1
    shift
    "$WINE_RUN" "$@" <"${INPUT:-/dev/null}" >"$WORK/$name.out" 2>"$WORK/$name.err" &
    STARTED[$name]=$!
}

# run NAME SECONDS PROGRAM.exe ARGS...: runs it to its end and sets STATUS.
run() {
    local name=$1 seconds=$2
    shift 2
    start "$name" "$@"
    finish "$name" "$seconds"
}

# finish NAME SECONDS: waits for NAME to end and sets STATUS to its exit status; kills it
# and fails the test when it runs longer.
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

# stop NAME: kills NAME.
stop() {
    kill -9 "${STARTED[$1]}" 2>/dev/null || true
    wait "${STARTED[$1]}" 2>/dev/null || true
    unset "STARTED[$1]"
}

# expect_status NAME STATUS SECONDS
expect_status() {
    finish "$1" "$3"
    [ "$STATUS" = "$2" ] || fail "$1 exited with $STATUS, expected $2"
}

# need_file FILE: FILE (in $WORK) exists; the checks below read nothing else.
need_file() {
    [ -f "$WORK/$1" ] || fail "$1 is missing"
}

# wait_text FILE TEXT SECONDS: until FILE holds TEXT; fails when NAME's program (the
# file's base name) ended first, or after SECONDS.
wait_text() {
    local file=$1 text=$2 deadline=$((SECONDS + $3)) name=${1%.*}
    until grep -qF -- "$text" "$WORK/$file" 2>/dev/null; do
        if [ -n "${STARTED[$name]:-}" ] && ! kill -0 "${STARTED[$name]}" 2>/dev/null; then
            fail "$name ended before $file held: $text"
        fi
        [ $SECONDS -lt $deadline ] || fail "$file did not get, within $3 s: $text"
        sleep 0.1
    done
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

# expect_line FILE LINE: FILE has exactly this line (a Windows program's CR goes).
expect_line() {
    need_file "$1"
    tr -d '\r' <"$WORK/$1" | grep -qxF -- "$2" || fail "$1 lacks the line: $2"
}

# expect_count FILE TEXT N: exactly N lines of FILE hold TEXT.
expect_count() {
    need_file "$1"
    local count
    count=$(grep -cF -- "$2" "$WORK/$1" || true)
    [ "$count" = "$3" ] || fail "$1 holds '$2' on $count lines, expected $3"
}

# expect_order FILE TEXT...: FILE holds lines with each TEXT, in this order (each after
# the line that held the one before).
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

# window_of FILE: the handle of the first "window=0x..." in FILE (the program's own
# window, which every program here names first); fails without one.
window_of() {
    need_file "$1"
    local handle
    handle=$(grep -o -m 1 'window=0x[0-9A-F]*' "$WORK/$1" | head -n 1 | cut -d= -f2) || true
    [ -n "$handle" ] || fail "$1 names no window"
    printf '%s\n' "$handle"
}
