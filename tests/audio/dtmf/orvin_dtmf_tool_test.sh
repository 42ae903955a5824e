#!/usr/bin/env bash
# OrvinDtmf.exe end to end: generated WAV files in, digits and exit statuses out.
#   orvin_dtmf_tool_test.sh PATH/OrvinDtmf.exe      (WINE_RUN names the build's Wine runner)
set -u
tool="$1"
here="$(cd "$(dirname "$0")" && pwd)"
make_wav="$here/make_key_wav.py"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

failures=0
# check STATUS STDOUT_PATTERN ARGS...: the program runs in this folder,
# so it gets relative file names (Wine maps the current folder).
check() {
    local want_status="$1" want_out="$2"
    shift 2
    local out status
    timeout 60 "$WINE_RUN" "$tool" "$@" >stdout.txt 2>stderr.txt
    status=$?
    out="$(tr -d '\r' <stdout.txt)"
    if [ "$status" != "$want_status" ] || ! [[ "$out" =~ $want_out ]]; then
        echo "FAIL: OrvinDtmf $*: status $status (want $want_status), output '$out' (want /$want_out/)"
        echo "  stderr: $(tr -d '\r' <stderr.txt)"
        failures=$((failures + 1))
    else
        echo "ok: OrvinDtmf $* -> $status '$out'"
    fi
}

python3 "$make_wav" keys.wav '159#*0D' --on 70 --off 50 --noise 50
python3 "$make_wav" all.wav '123A456B789C*0#D' --on 45 --off 25
python3 "$make_wav" held.wav '7' --on 3000 --off 100
python3 "$make_wav" quiet.wav '123' --amp 300
python3 "$make_wav" rate16k.wav '1' --rate 16000
python3 "$make_wav" stereo.wav '1' --channels 2
python3 "$make_wav" byte.wav '1' --bits 8
printf 'not a wave file at all' >text.wav

check 0 '^159#\*0D$' keys.wav
check 0 '^123A456B789C\*0#D$' all.wav
check 0 '^7$' held.wav
check 0 '^$' quiet.wav
check 2 '^$' rate16k.wav
grep -q "not 8000 Hz 16-bit mono PCM" stderr.txt || { echo "FAIL: no format message"; failures=$((failures + 1)); }
check 2 '^$' stereo.wav
check 2 '^$' byte.wav
check 1 '^$' missing.wav
check 1 '^$' text.wav
check 2 '^$'
check 2 '^$' --bench
check 2 '^$' --bench zero keys.wav
check 0 $'\n[0-9]+ samples/s$' --bench 0.2 keys.wav

[ "$failures" -eq 0 ] && echo "all OrvinDtmf checks passed"
exit $((failures > 0))
