#!/usr/bin/env bash
# The EyeBeam and QQ stand-ins' own faults and statuses: a bad script is refused whole with
# every line number (2), --check, --help and bad options, an expectation not met (1, with
# its line), a second stand-in while one has its window (3); and their checks across
# processes: SoftphonePeer.exe, in the agent's place, sends a record one byte short and a
# two-digit number under tag 1; each stand-in fails its script naming the fault (1), or
# with --lenient logs it as a warning and succeeds (0).
source "$(dirname "$0")/../../lib/systest-lib.sh"
use_work "$BUILD_DIR/Testing/softphones/$(basename "$0" .sh)"
EYEBEAMSIM="$BUILD_DIR/tools/EyeBeamSim/EyeBeamSim.exe"
QQSIM="$BUILD_DIR/tools/QQSim/QQSim.exe"
PEER="$BUILD_DIR/tests/softphones/sim/SoftphonePeer.exe"

script() {
    cat >"$WORK/$1.txt"
}
# start_sim NAME PROGRAM CLASS ARGS...: the stand-in with $WORK/NAME.txt, once its window is open.
start_sim() {
    local name=$1 program=$2 class=$3
    shift 3
    start "$name" "$program" --log "$(winpath "$WORK/$name.log")" "$@" "$(winpath "$WORK/$name.txt")"
    wait_text "$name.log" "] window of class $class open" 30
}

for sim in EyeBeamSim QQSim; do
    program=$EYEBEAMSIM
    [ $sim = QQSim ] && program=$QQSIM
    script bad <<'S'
attach
attach sometimes=1
sleep
frobnicate now
sleep 10
S
    start bad "$program" --check "$(winpath "$WORK/bad.txt")"
    expect_status bad 2 30
    expect_text bad.err "$sim: $(winpath "$WORK/bad.txt"): line 2: attach: unknown option 'sometimes'"
    expect_text bad.err "bad.txt: line 3: sleep: needs a time in milliseconds"
    expect_text bad.err "bad.txt: line 4: unknown command 'frobnicate'"
    expect_no_text bad.err "line 1:"
    expect_no_text bad.err "line 5:"
    start help "$program" --help
    expect_status help 0 30
    expect_text help.out "Exit status: 0 when the script ran to its end"
    start option "$program" --frobnicate
    expect_status option 2 30
    expect_text option.err "$sim: unknown option --frobnicate"
    start neither "$program"
    expect_status neither 2 30
done

# An expectation not met, with its line; a second stand-in while the first has its window.
script unmet <<'S'
# nothing comes
expect 0 5 timeout=300
S
start_sim unmet "$EYEBEAMSIM" OrvinEyeBeamSim
expect_status unmet 1 30
expect_text unmet.err "EyeBeamSim: line 2: expect 0 5 timeout=300: no record type=0 code=5 within 300 ms"
expect_text unmet.log "] exit 1"
script first <<'S'
sleep 8000
S
script second <<'S'
sleep 10
S
start_sim first "$QQSIM" OrvinQQSim
start second "$QQSIM" --log "$(winpath "$WORK/second.log")" "$(winpath "$WORK/second.txt")"
expect_status second 3 30
expect_text second.err "another QQSim"
expect_status first 0 30

# The checks across processes, strict and lenient.
short=$(printf '00000000050000000000000000%.0s' 1)$(printf '00%.0s' $(seq 1 606))
for mode in strict lenient; do
    flag=()
    [ $mode = lenient ] && flag=(--lenient)
    script "eyebeam-$mode" <<'S'
attach timeout=20000
sleep 2500
S
    start_sim "eyebeam-$mode" "$EYEBEAMSIM" OrvinEyeBeamSim "${flag[@]}"
    run "peer-eyebeam-$mode" 30 "$PEER" eyebeam discover wait-attached 10000 send 0 "$short" sleep 200
    [ "$STATUS" = 0 ] || fail "SoftphonePeer (eyebeam) exited $STATUS"
    script "qq-$mode" <<'S'
attach timeout=20000
sleep 2500
S
    start_sim "qq-$mode" "$QQSIM" OrvinQQSim "${flag[@]}"
    run "peer-qq-$mode" 30 "$PEER" qq discover wait-attached 10000 send 13 01020000003132 sleep 200
    [ "$STATUS" = 0 ] || fail "SoftphonePeer (qq) exited $STATUS"
    if [ $mode = strict ]; then
        expect_status "eyebeam-$mode" 1 30
        expect_text "eyebeam-$mode.err" ": record 1 (type=0 code=5 info=0 (619 bytes)) from 0x"
        expect_text "eyebeam-$mode.err" ": 619 bytes: a record is 620"
        expect_status "qq-$mode" 1 30
        expect_text "qq-$mode.err" ": message 1 (event=13 1:text:12) from 0x"
        expect_text "qq-$mode.err" "a number of 2 digits goes with tag 3, not 1"
    else
        expect_status "eyebeam-$mode" 0 30
        expect_text "eyebeam-$mode.log" "] WARNING record 1 ("
        expect_status "qq-$mode" 0 30
        expect_text "qq-$mode.log" "] WARNING message 1 ("
    fi
done
echo "faults: ok"
