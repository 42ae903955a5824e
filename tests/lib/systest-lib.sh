# The common part of the system-test drivers' helpers, sourced by each family's own
# library (which adds its program paths, its extra helpers and calls use_work): starting
# Win32 programs under Wine, waiting for them with time-outs, checking their output, and
# killing whatever is still running when the driver ends, however it ends; on a failure
# the files of the driver's folder are shown.
#
# Every check fails when what it reads is not there: a missing file, or a missing line
# for a value, is a failure, never an empty match. Every wait has a time limit.
#
# The driver runs under CTest, which gives WINE_RUN (the runner) and BUILD_DIR.
set -euo pipefail

: "${WINE_RUN:?WINE_RUN is set by CTest}"
: "${BUILD_DIR:?BUILD_DIR is set by CTest}"

WORK=                   # the driver's folder, set by use_work
declare -A STARTED=()   # name -> pid of a program still to be waited for
EXIT_HOOKS=()           # functions run at the end, after the programs are killed

# use_work DIR: DIR, emptied, is the driver's folder ($WORK) for every file named below.
use_work() {
    WORK=$1
    rm -rf "$WORK"
    mkdir -p "$WORK"
}

# at_exit FUNCTION: runs FUNCTION too when the driver ends, however it ends.
at_exit() {
    EXIT_HOOKS+=("$1")
}

cleanup() {
    local status=$? name hook f
    for name in "${!STARTED[@]}"; do
        kill -9 "${STARTED[$name]}" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    for hook in "${EXIT_HOOKS[@]}"; do
        "$hook" || true
    done
    if [ $status -ne 0 ] && [ -n "$WORK" ] && [ -d "$WORK" ]; then
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

# stop NAME: kills NAME (a program serving with nothing more to do).
stop() {
    kill -9 "${STARTED[$1]}" 2>/dev/null || true
    wait "${STARTED[$1]}" 2>/dev/null || true
    unset "STARTED[$1]"
}

# expect_status NAME STATUS SECONDS: NAME ends within the time with that exit status.
expect_status() {
    finish "$1" "$3"
    [ "$STATUS" = "$2" ] || fail "$1 exited with $STATUS, expected $2"
}

# need_file FILE: FILE (in $WORK) exists; the checks below read nothing else.
need_file() {
    [ -f "$WORK/$1" ] || fail "$1 is missing"
}

# wait_text FILE TEXT SECONDS: until FILE holds TEXT; fails after SECONDS, or when the
# program named as the file's base name (NAME.log: NAME) ended without writing it.
wait_text() {
    local file=$1 text=$2 deadline=$((SECONDS + $3)) name=${1%.*} ended=0
    until grep -qF -- "$text" "$WORK/$file" 2>/dev/null; do
        [ $ended = 0 ] || fail "$name ended before $file held: $text"
        if [ -n "${STARTED[$name]:-}" ] && ! kill -0 "${STARTED[$name]}" 2>/dev/null; then
            ended=1 # one more look: it may have written the text just before it ended
            continue
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

# expect_order FILE TEXT...: FILE holds lines with each TEXT, in this order (each after
# the line that held the one before).
expect_order() {
    local file=$1 after=0 text line
    shift
    need_file "$file"
    for text in "$@"; do
        # Through the environment: awk's -v would read backslashes as escapes.
        line=$(FROM=$after TEXT=$text awk 'NR > ENVIRON["FROM"] && index($0, ENVIRON["TEXT"]) { print NR; exit }' \
            "$WORK/$file")
        [ -n "$line" ] || fail "$file lacks, after line $after: $text"
        after=$line
    done
}

# value_of FILE NAME: what follows "NAME=" on the first line that begins so (Windows
# programs end their lines with CR LF; the CR goes). Without the file or the line it
# prints "<no NAME= line in FILE>", which no expected value equals; expect_value says so
# in the failure.
value_of() {
    local value
    if [ -f "$WORK/$1" ] && value=$(NAME="$2=" awk 'index($0, ENVIRON["NAME"]) == 1 { sub(/\r$/, ""); print "=" substr($0, length(ENVIRON["NAME"]) + 1); exit }' \
        "$WORK/$1") && [ -n "$value" ]; then
        printf '%s\n' "${value#=}"
    else
        printf '<no %s= line in %s>\n' "$2" "$1"
    fi
}

# expect_value FILE NAME VALUE: FILE has a line "NAME=VALUE" as its first NAME= line
# (VALUE may be empty: the line must still be there).
expect_value() {
    need_file "$1"
    grep -q "^$2=" "$WORK/$1" || fail "$1 has no $2= line"
    local value
    value=$(value_of "$1" "$2")
    [ "$value" = "$3" ] || fail "$1: $2 is '$value', expected '$3'"
}

# count_text FILE TEXT: how many lines hold TEXT. count_lines FILE PREFIX: how many begin
# with it. Without the file they print "<no FILE>", which no count equals; expect_count
# says so in the failure.
count_text() {
    if [ -f "$WORK/$1" ]; then
        grep -cF -- "$2" "$WORK/$1" || true
    else
        printf '<no %s>\n' "$1"
    fi
}
count_lines() {
    if [ -f "$WORK/$1" ]; then
        PREFIX=$2 awk 'index($0, ENVIRON["PREFIX"]) == 1 { ++count } END { print count + 0 }' "$WORK/$1"
    else
        printf '<no %s>\n' "$1"
    fi
}

# expect_count FILE TEXT N: exactly N lines of FILE hold TEXT.
expect_count() {
    need_file "$1"
    local count
    count=$(count_text "$1" "$2")
    [ "$count" = "$3" ] || fail "$1 holds '$2' on $count lines, expected $3"
}

# ---- Stand-ins driven line by line (--interactive): their standard input is a fifo the
# driver feeds, and each line is waited for as the program's log ($WORK/NAME.log) reports
# it done (or failed).
declare -A FEED_FD=() FED=()

# start_fed NAME PROGRAM ARGS...: PROGRAM reads its commands from $WORK/NAME.in.
start_fed() {
    local name=$1 fd
    shift
    mkfifo "$WORK/$name.in"
    INPUT="$WORK/$name.in" start "$name" "$@"
    exec {fd}>"$WORK/$name.in"
    FEED_FD[$name]=$fd
    FED[$name]=0
}

# end_feed NAME: the end of NAME's input (the program ends after its last line).
end_feed() {
    exec {FEED_FD[$1]}>&-
}

# feed NAME COMMAND: NAME gets COMMAND without waiting for it; LINE is its line number.
feed() {
    printf '%s\n' "$2" >&"${FEED_FD[$1]}"
    FED[$1]=$((FED[$1] + 1))
    LINE=${FED[$1]}
}

# wait_line NAME LINE [SECONDS]: until NAME's log ($WORK/NAME.log) says line LINE is done;
# fails the test when it says the line failed.
wait_line() {
    local name=$1 line=$2 deadline=$((SECONDS + ${3:-60}))
    until grep -qF -- "] line $line done: " "$WORK/$name.log" 2>/dev/null; do
        if grep -qF -- "ERROR line $line: " "$WORK/$name.log" 2>/dev/null; then
            fail "$name: $(grep -F -- "ERROR line $line: " "$WORK/$name.log" | head -1)"
        fi
        kill -0 "${STARTED[$name]}" 2>/dev/null || fail "$name ended before its line $line was done"
        [ $SECONDS -lt $deadline ] || fail "$name did not do its line $line within ${3:-60} s"
        sleep 0.05
    done
}

# do_line NAME COMMAND [SECONDS]: NAME runs COMMAND; returns once it is done.
do_line() {
    feed "$1" "$2"
    wait_line "$1" "$LINE" "${3:-60}"
}
