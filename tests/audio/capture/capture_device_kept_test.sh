#!/usr/bin/env bash
# Voice dialogue after voice dialogue, the capture does not grow the agent: 20 captures
# made on the default capture device one after another, each started, run for three
# notifications and destroyed, with the real DirectSound under Wine on a private
# PulseAudio server. Wine keeps some 32 KB for every capture device opened and started
# (640 KB here) unless the device is opened once and kept; what is left must stay well
# below that.
#   capture_device_kept_test.sh PATH/TO/audio_probe.exe
source "$(dirname "$0")/../../lib/systest-lib.sh"
source "$(dirname "$0")/../../lib/pulse-lib.sh"

PROBE=$1
use_work "$BUILD_DIR/Testing/audio-capture-kept"
pulse_start
# The pipe source hears only what is written into it: silence, in real time.
python3 -c '
import sys, time
out = open(sys.argv[1], "wb", buffering=0)
while True:
    out.write(b"\0" * 320)
    time.sleep(0.02)
' "$CAPTURE_FIFO" 2>/dev/null &
STARTED[feeder]=$!

run probe 120 "$PROBE" cycles 20
[ "$STATUS" = 0 ] || fail "audio_probe cycles exited with $STATUS: $(cat "$WORK/probe.out")"
growth=$(tr -d '\r' <"$WORK/probe.out" | awk '$1 == "GROWTH_KB" { print $2 }')
[ -n "$growth" ] || fail "no GROWTH_KB line: $(cat "$WORK/probe.out")"
echo "private memory after 20 captures: $growth KB more than after the first"
[ "$growth" -lt 256 ] || fail "the captures grew the process by $growth KB (a device opened for each?)"
