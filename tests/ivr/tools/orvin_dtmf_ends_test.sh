#!/usr/bin/env bash
# OrvinDtmf.exe at the ends of a file: a key that sounds up to the very last sample is
# reported like any other (the detector reports a key when it ends), and a file without
# samples prints nothing and succeeds.
#   orvin_dtmf_ends_test.sh PATH/OrvinDtmf.exe      (run by CTest)
source "$(dirname "$0")/../../lib/systest-lib.sh"
tool=$1
make_wav="$(cd "$(dirname "$0")/../../audio/dtmf" && pwd)/make_key_wav.py"
use_work "$BUILD_DIR/tests/ivr/tools/orvin-dtmf"
cd "$WORK" # the tool gets relative names (Wine maps the current folder)

# digits NAME FILE.wav EXPECTED: the tool ends with 0 and prints EXPECTED on one line.
digits() {
    run "$1" 60 "$tool" "$2"
    [ "$STATUS" = 0 ] || fail "OrvinDtmf $2 exited with $STATUS"
    local out
    out=$(tr -d '\r' <"$WORK/$1.out")
    [ "$out" = "$3" ] || fail "OrvinDtmf $2 printed '$out', expected '$3'"
    echo "ok: OrvinDtmf $2 -> '$out'"
}

# Keys whose last one runs to the end of the file, with no pause after it.
python3 "$make_wav" end.wav '4' --on 100 --off 0
python3 "$make_wav" end-odd.wav '4' --on 77 --off 0    # ends inside a 10 ms block
python3 "$make_wav" run.wav '159' --on 70 --off 0      # keys straight after each other
python3 "$make_wav" last.wav '#0*' --on 60 --off 10 --noise 50  # 10 ms after the last
python3 "$make_wav" cut.wav 'D' --on 100 --off 0 --noise 50
digits end end.wav 4
digits end-odd end-odd.wav 4
digits run run.wav 159
digits last last.wav '#0*'
digits cut cut.wav D
# A key too short to count stays unreported at the end as well.
python3 "$make_wav" short.wav '7' --on 30 --off 0
digits short short.wav ''

# No samples at all: nothing printed, not even an empty line, and success.
python3 "$make_wav" empty.wav ''
[ "$(stat -c %s empty.wav)" = 44 ] || fail "empty.wav is not a header alone"
run empty 60 "$tool" empty.wav
[ "$STATUS" = 0 ] || fail "OrvinDtmf empty.wav exited with $STATUS"
[ ! -s "$WORK/empty.out" ] || fail "OrvinDtmf empty.wav printed: $(cat "$WORK/empty.out")"
[ ! -s "$WORK/empty.err" ] || fail "OrvinDtmf empty.wav complained: $(cat "$WORK/empty.err")"
echo "ok: OrvinDtmf empty.wav -> nothing"

# Samples without a key: one empty line, as before.
python3 "$make_wav" quiet.wav '5' --amp 200
run quiet 60 "$tool" quiet.wav
[ "$STATUS" = 0 ] || fail "OrvinDtmf quiet.wav exited with $STATUS"
[ "$(tr -d '\r' <"$WORK/quiet.out" | od -An -c | tr -d ' ')" = '\n' ] || fail "OrvinDtmf quiet.wav did not print one empty line"

# The benchmark runs the file again and again through one detector: the key at the end
# must be found in every pass, and must not leak into the start of the next.
run bench 60 "$tool" --bench 0.3 end.wav
[ "$STATUS" = 0 ] || fail "OrvinDtmf --bench end.wav exited with $STATUS: $(cat "$WORK/bench.err")"
expect_line bench.out "digits per pass: 4"

echo "all OrvinDtmf end checks passed"
