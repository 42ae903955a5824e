#!/usr/bin/env bash
# The TelTel stand-in itself, across processes: TelTelPeer.exe plays the agent's side of the
# stand-in TelTelAPI.DLL and TelTelSim.exe runs a script.
#   1. A peer that keeps the rules: TelTel's readiness and a function's answer set by the
#      script reach it, its callbacks run on threads that are not its own, a posted window
#      message comes back through TelTel_WndProc, the calls are logged with their arguments,
#      and the script ends with status 0.
#   2. A peer that breaks every rule: with --lenient each fault is a WARNING naming it, and
#      the status is 0; without, the first fault fails the running command, naming its
#      line, with status 1.
#   3. A script with faults: status 2, every fault with its line number, nothing served; a
#      second control program on a pipe already served: status 3.
source "$(dirname "$0")/../../lib/systest-lib.sh"
use_work "$BUILD_DIR/Testing/softphones/teltel_stand_in"

TELTELSIM="$BUILD_DIR/tools/TelTelSim/TelTelSim.exe"
PEER="$BUILD_DIR/tests/softphones/teltel/TelTelPeer.exe"
LIBRARY="$(winpath "$BUILD_DIR/tools/TelTelSim/TelTelAPI.DLL")"
export ORVIN_TELTELSIM_PIPE="OrvinTelTelStandIn-$$"
DEVICE="Orvin Virtual Audio Device"

control() { # NAME SCRIPT [OPTIONS...]
    local name=$1 script=$2
    shift 2
    start "$name" "$TELTELSIM" --pipe "$ORVIN_TELTELSIM_PIPE" --log "$(winpath "$WORK/$name.log")" "$@" \
        "$(winpath "$WORK/$script")"
    wait_text "$name.log" "] serving " 30
}

# ---- 1.
cat >"$WORK/good.txt" <<'SCRIPT'
wait-library timeout=30000
expect TelTel_Register *
expect TelTel_RegisterIncmingCallCBV2 * *
ready value=0x101
result TelTel_AnswerOrCall 7
ring-start value=5
ring-stop value=6 thread=new
post 0x8123 wparam=7 lparam=9
expect TelTel_WndProc 0x8123 7 9
expect TelTel_IsTelTelReady result=257 timeout=10000
expect TelTel_AnswerOrCall result=7
expect TelTel_RegisterAudioDevices2 "Orvin Virtual Audio Device" "Orvin Virtual Audio Device" "Orvin Virtual Audio Device"
expect TelTel_Unregister *
wait-gone timeout=20000
SCRIPT
control good good.txt
"$WINE_RUN" "$TELTELSIM" --pipe "$ORVIN_TELTELSIM_PIPE" --interactive </dev/null >"$WORK/busy.out" 2>&1 &&
    fail "a second control program served the same pipe" || STATUS=$?
[ "$STATUS" = 3 ] || fail "a second control program on a pipe already served exited with $STATUS, not 3"
run peer 60 "$PEER" --library "$LIBRARY" register callbacks pump 2500 ready call TelTel_AnswerOrCall audio "$DEVICE" \
    unregister
[ "$STATUS" = 0 ] || fail "TelTelPeer exited with $STATUS"
expect_status good 0 30
expect_line peer.out "callback ring-start 5 on another thread"
expect_line peer.out "callback ring-stop 6 on another thread"
expect_line peer.out "ready=257"
expect_line peer.out "TelTel_AnswerOrCall=7"
expect_text good.log "library connected: process "
expect_text good.log "TelTelAPI.DLL, 13 functions"
expect_text good.log "RX TelTel_RegisterAudioDevices2(\"$DEVICE\", \"$DEVICE\", \"$DEVICE\") = 1"
expect_no_text good.log "ERROR"
expect_no_text good.log "WARNING"

# ---- 2.
cat >"$WORK/bad.txt" <<'SCRIPT'
wait-library timeout=30000
expect TelTel_RegisterAudioDevices2 timeout=20000
ring-start value=9
expect TelTel_Unregister * timeout=20000
SCRIPT
BAD=(call TelTel_Mute register-foreign register-none unregister register callbacks-data callbacks audio-mixed
    reenter hold 2500 pump 6000 unregister)
control lenient bad.txt --lenient
run peer2 60 "$PEER" --library "$LIBRARY" "${BAD[@]}"
expect_status lenient 0 30
for fault in "TelTel_Mute called while no window is registered" \
    "TelTel_Register(0x" "): a window of another process, not one of the agent's own" \
    "): not a window, not one of the agent's own" ") while window 0x" \
    "TelTel_Unregister(0x" \
    "TelTel_RegisterInCallCBV2: the first callback 0x" "is not executable code of the agent's process" \
    "TelTel_RegisterIncmingCallCBV2: the second callback 0x" \
    "TelTel_RegisterAudioDevices2: three different names" \
    "TelTel_Mute called from inside one of the library's callbacks, on its thread" \
    "the ring-start callback held the library's thread for"; do
    grep -F "WARNING " "$WORK/lenient.log" | grep -qF -- "$fault" || fail "lenient.log has no WARNING with: $fault"
done
expect_text lenient.log "fault(s) against the library's rules passed over (--lenient)"

control strict bad.txt
run peer3 60 "$PEER" --library "$LIBRARY" "${BAD[@]}"
expect_status strict 1 30
expect_text strict.err "line 2: expect TelTel_RegisterAudioDevices2 timeout=20000: the agent broke the library's rules: TelTel_Mute called while no window is registered"

# ---- 3.
printf 'wait-library\nring-begin\nexpect TelTel_Nope\nsleep\n' >"$WORK/faulty.txt"
run check 30 "$TELTELSIM" --check "$(winpath "$WORK/faulty.txt")"
[ "$STATUS" = 2 ] || fail "--check of a faulty script exited with $STATUS, not 2"
expect_text check.err "line 2: unknown command ring-begin"
expect_text check.err "line 3: expect: TelTel_Nope is not one of the library's functions"
expect_text check.err "line 4: sleep: a number of milliseconds is needed"
echo "PASS"
