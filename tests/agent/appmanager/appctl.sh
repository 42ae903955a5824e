#!/usr/bin/env bash
# OrvinAppCtl.exe as an installer uses it, against programs of the family (AppManPeer.exe)
# in processes of their own: whether one runs, shutting one down, shutting down all, and
# its answers to a wrong command line.
#
# Run by CTest, which gives WINE_RUN (the runner) and BUILD_DIR.
source "$(dirname "$0")/../../lib/systest-lib.sh"

CTL="$BUILD_DIR/tools/OrvinAppCtl/OrvinAppCtl.exe"
PEER="$BUILD_DIR/tests/agent/appmanager/AppManPeer.exe"
use_work "$BUILD_DIR/Testing/agent-appmanager/appctl"

# ctl NAME ARGS...: runs OrvinAppCtl.exe to its end; output in $WORK/NAME.out, status in STATUS.
ctl() {
    local name=$1
    shift
    STATUS=0
    timeout 120 "$WINE_RUN" "$CTL" "$@" </dev/null >"$WORK/$name.out" 2>"$WORK/$name.err" || STATUS=$?
}

expect_ctl() { # NAME STATUS TEXT ARGS...
    local name=$1 want=$2 text=$3
    shift 3
    ctl "$name" "$@"
    [ "$STATUS" = "$want" ] || fail "OrvinAppCtl $* exited with $STATUS, expected $want"
    [ -z "$text" ] || grep -qF -- "$text" "$WORK/$name.out" "$WORK/$name.err" || fail "OrvinAppCtl $* did not say: $text"
}

# peer NAME ID [OPTIONS...]: AppManPeer.exe in the background; returns once OrvinAppCtl sees it run.
peer() {
    local name=$1 id=$2
    shift 2
    start "$name" "$PEER" --id "$id" "$@"
    local deadline=$((SECONDS + 30))
    until ctl "$name-up" running "$id" && [ "$STATUS" = 0 ]; do
        kill -0 "${STARTED[$name]}" 2>/dev/null || fail "$name ended before it ran"
        [ $SECONDS -lt $deadline ] || fail "$name did not come up"
        sleep 0.2
    done
}

# A wrong command line changes nothing and says so.
expect_ctl noargs 2 "no command"
expect_ctl badcmd 2 "unknown command" stop 2
expect_ctl badid 2 "needs one application ID" running two
expect_ctl noid 2 "needs one application ID" shutdown
expect_ctl badas 2 "--as" --as 0 running 2
expect_ctl self 2 "itself" --as 5 shutdown 5
expect_ctl help 0 "shutdown-all" --help

# Application 2, the agent's ID, as the agent takes part: running, then shut down. The peer's
# exit status is 100 + the ID of the program that asked it (99 by default).
expect_ctl none 1 "application 2 is not running" running 2
peer agent 2
expect_ctl running 0 "application 2 is running" running 2
expect_ctl other 1 "application 3 is not running" running 3
expect_ctl shutdown 0 "application 2 has shut down" shutdown 2
grep -qF "asking application 2 to shut down" "$WORK/shutdown.out" || fail "no word of asking"
expect_status agent 199 10
expect_ctl gone 1 "application 2 is not running" running 2
expect_ctl again 0 "application 2 is not running" shutdown 2

# One that takes its time is waited for.
peer slow 4 --mode linger --ms 2500
begin=$SECONDS
expect_ctl slow-shutdown 0 "application 4 has shut down" --as 8 shutdown 4
[ $((SECONDS - begin)) -ge 2 ] || fail "did not wait for the slow one"
expect_status slow 108 10

# All at once, in ascending order, the sender spared.
peer three 3
peer five 5 --mode wait --ms 60000
peer six 6 --mode linger --ms 300
expect_ctl all 0 "asking applications 3, 5, 6 to shut down" --as 7 shutdown-all
expect_status three 107 10
expect_status five 107 10
expect_status six 107 10
for id in 3 5 6; do
    grep -qF "application $id has shut down" "$WORK/all.out" || fail "no word of $id"
done
expect_ctl nobody 0 "no other application is running" shutdown-all

# A second program with a taken ID ends at once with 2.
peer first 9
start second "$PEER" --id 9
expect_status second 2 30
expect_ctl first-shutdown 0 "application 9 has shut down" shutdown 9
expect_status first 199 10
echo "OrvinAppCtl: all cases passed"
