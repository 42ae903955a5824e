#!/usr/bin/env bash
# The stand-in's own contract: help, script faults reported with their line numbers before
# anything is served, an unmet expectation reported with its line and what arrived
# instead, the interactive mode, and a second stand-in refused while one serves.
. "$(dirname "$0")/simtest-lib.sh"

start help "$SIM" --help
expect_status help 0 30
for word in wait-agent expect expect-generic send adaptor-info burst measure raw sleep break stop-service \
    --log --interactive --adapters --key0 --enum-delay --lenient "Exit status" "Size 28 to 640" \
    "Id 0x03E80000 + that index"; do
    expect_text help.out "$word"
done

# Every fault at once, and nothing served.
cat >"$WORK/faulty.txt" <<'SCRIPT'
wait-agent
snd HW_EVENT NOTIFY_HOOK_STATE
send HW_EVENT NOTIFY_HOOK_STATE info=on
# a comment
expect HW_EVENT
sleep 100
adaptor-info
SCRIPT
start faulty "$SIM" --log "$(winpath "$WORK/faulty.log")" "$(winpath "$WORK/faulty.txt")"
expect_status faulty 2 30
expect_order faulty.err \
    "line 2: unknown command 'snd'" \
    "line 3: send: bad value 'on' for info" \
    "line 5: expect: needs TYPE and CODE" \
    "line 7: adaptor-info: needs lowcost=N"
[ "$(count_text faulty.err "line ")" = 4 ] || fail "other than 4 faults reported"
expect_no_text faulty.out "serving"
[ ! -e "$WORK/faulty.log" ] || fail "the faulty script got as far as the log"

# An expectation not met: the line, what was expected and what came instead.
cat >"$WORK/unmet.txt" <<'SCRIPT'
wait-agent timeout=20000
send HW_EVENT NOTIFY_PSTN_RING
expect CALL_EVENT CALL_STATUS_RINGING buf1=+4930 timeout=4000
send HW_EVENT SM_INITIALIZED
SCRIPT
start_sim unmet "$(winpath "$WORK/unmet.txt")"
start unmet-probe "$PROBE" "wait-connected timeout=20000" "expect HW_EVENT NOTIFY_PSTN_RING" \
    "send CALL_EVENT CALL_STATUS_RINGING buf1=+4931" "send CALL_EVENT CALL_STATUS_BUSY" "sleep 5000"
expect_status unmet 1 60
expect_status unmet-probe 0 60
expect_text unmet.err "line 3: expect CALL_EVENT CALL_STATUS_RINGING buf1=+4930 timeout=4000: expected IMM MSG_TYPE_CALL_EVENT CALL_STATUS_RINGING buf1=+4930 within 4000 ms; arrived instead: IMM MSG_TYPE_CALL_EVENT CALL_STATUS_RINGING info=0 buf1=+4931 ioctl=0xf000000a id=0x3e80000; IMM MSG_TYPE_CALL_EVENT CALL_STATUS_BUSY info=0 ioctl=0xf000000a id=0x3e80000"
expect_text unmet.log "passed over by expect at line 3: IMM MSG_TYPE_CALL_EVENT CALL_STATUS_BUSY"
expect_no_text unmet.log "SM_INITIALIZED"

# Nobody comes.
echo "wait-agent timeout=500" >"$WORK/alone.txt"
start_sim alone "$(winpath "$WORK/alone.txt")"
expect_status alone 1 30
expect_text alone.err "line 1: wait-agent timeout=500: no agent connected and greeted within 500 ms"

# Interactive: each line runs as it comes; faults are reported and the session goes on.
printf 'sleep 10\nbogus\nwait-agent timeout=300\nsleep 10\n' >"$WORK/typed.txt"
"$WINE_RUN" "$SIM" --interactive --log "$(winpath "$WORK/typed.log")" <"$WORK/typed.txt" \
    >"$WORK/typed.out" 2>"$WORK/typed.err" &
STARTED[typed]=$!
expect_status typed 1 30
expect_text typed.err "line 2: unknown command 'bogus'"
expect_text typed.err "line 3: wait-agent timeout=300: no agent connected and greeted within 300 ms"
expect_text typed.log "line 4 done: sleep 10"

# One service at a time: a second stand-in can not serve the same pipes.
echo "sleep 60000" >"$WORK/idle.txt"
start_sim first "$(winpath "$WORK/idle.txt")"
start second "$SIM" "$(winpath "$WORK/idle.txt")"
expect_status second 3 30
expect_text second.err "can not serve \\\\.\\pipe\\VCORE\\IOMAN (error"
stop first
echo "PASS"
