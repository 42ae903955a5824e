#!/usr/bin/env bash
# The agent's real DirectSound capture and playback under Wine, on a private PulseAudio
# server with two virtual devices:
#   - capture: a pipe source; this script writes key tones into its FIFO in real time and
#     the capture engine with its DTMF detector must report them;
#   - playback: a null sink recorded with parec; a prompt of three files played through the
#     prompt stream must be heard there, in order.
#
#   audio_system_test.sh PATH/TO/audio_probe.exe
# Environment (set by CTest): WINE_RUN (the build's wine runner), BUILD_DIR.
#
# The sound server gets its own runtime folder, short and private under /tmp (its socket's
# path must stay under 108 bytes), its log and home under the build folder; Wine is run
# with the same XDG_RUNTIME_DIR and the prefix's audio driver set to pulse. Every wait has
# a time-out, and everything started here is stopped, and the runtime folder removed, on
# the way out.
set -u

PROBE="${1:?usage: audio_system_test.sh PATH/TO/audio_probe.exe}"
: "${WINE_RUN:?WINE_RUN must name the wine runner of the build}"
: "${BUILD_DIR:?BUILD_DIR must name the build folder}"
HERE="$(cd "$(dirname "$0")" && pwd)"
PROBE="$(cd "$(dirname "$PROBE")" && pwd)/$(basename "$PROBE")"

source "$HERE/../../lib/runtime-dir.sh"

WORK="$BUILD_DIR/audio-system"
rm -rf "$WORK"
mkdir -p "$WORK/home"
WORK="$(cd "$WORK" && pwd)"
if ! runtime_dir_make; then
    echo "audio_system_test: FAIL: no private runtime folder under /tmp" >&2
    exit 1
fi
export XDG_RUNTIME_DIR="$RUNTIME_DIR"
# The server and its clients keep their cookie and state here, not in the user's home.
PULSE_HOME="$WORK/home"

CAPTURE_FIFO="$WORK/capture.fifo"
SOURCE=orvin_test_capture
SINK=orvin_test_playback

BACKGROUND=()
DRIVER_SET=0
FAILED=0

say() { echo "audio_system_test: $*"; }
fail() {
    say "FAIL: $*"
    FAILED=1
}

pa() { HOME="$PULSE_HOME" timeout 10 "$@"; }

stop_pid() {
    local pid="$1"
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null
}

cleanup() {
    local pid
    for pid in "${BACKGROUND[@]}"; do
        stop_pid "$pid"
    done
    runtime_dir_stop_pulse
    runtime_dir_remove
    if [ "$DRIVER_SET" = 1 ]; then
        timeout 30 "$WINE_RUN" reg delete 'HKCU\Software\Wine\Drivers' /v Audio /f >/dev/null 2>&1
    fi
}
trap cleanup EXIT

# Waits up to $2 seconds for the file $1 to hold a line matching $3.
wait_for_line() {
    local file="$1" seconds="$2" pattern="$3"
    for _ in $(seq $((seconds * 10))); do
        grep -q "$pattern" "$file" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

for tool in pulseaudio pactl parec python3; do
    if ! command -v "$tool" >/dev/null; then
        say "FAIL: $tool is missing; scripts/install-deps.sh installs it"
        exit 1
    fi
done

# --- The sound server and its devices -------------------------------------------------
HOME="$PULSE_HOME" timeout 30 pulseaudio -n --daemonize=yes --exit-idle-time=-1 --system=false \
    --log-target="file:$WORK/pulse.log" \
    --load="module-native-protocol-unix auth-anonymous=1" 2>>"$WORK/pulse.log"
for _ in $(seq 50); do
    pa pactl info >/dev/null 2>&1 && break
    sleep 0.1
done
if ! pa pactl info >/dev/null 2>&1; then
    say "FAIL: the PulseAudio server did not start; its log:"
    cat "$WORK/pulse.log"
    exit 1
fi
# The pipe source makes its FIFO itself (an existing one makes it fail).
pa pactl load-module module-pipe-source source_name=$SOURCE file="$CAPTURE_FIFO" \
    format=s16le rate=8000 channels=1 >/dev/null
pa pactl load-module module-null-sink sink_name=$SINK >/dev/null
pa pactl set-default-source $SOURCE
pa pactl set-default-sink $SINK
if ! pa pactl list short sources | grep -q "^[0-9]*[[:space:]]$SOURCE[[:space:]]"; then
    say "FAIL: the virtual capture device $SOURCE is missing"
    exit 1
fi
if ! pa pactl list short sinks | grep -q "^[0-9]*[[:space:]]$SINK[[:space:]]"; then
    say "FAIL: the virtual playback device $SINK is missing"
    exit 1
fi

if ! timeout 60 "$WINE_RUN" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >/dev/null 2>&1; then
    say "FAIL: cannot set the Wine prefix's audio driver"
    exit 1
fi
DRIVER_SET=1

cd "$WORK" || exit 1
probe() { timeout "$1" "$WINE_RUN" "$PROBE" "${@:2}"; }

# --- Capture: key tones written into the capture device are reported -----------------
say "capture: key tones 1 5 9 # into $SOURCE"
timeout 60 "$WINE_RUN" "$PROBE" listen 20 4 >"$WORK/listen.out" 2>&1 &
LISTENER=$!
BACKGROUND+=("$LISTENER")
if wait_for_line "$WORK/listen.out" 40 '^LISTENING'; then
    timeout 30 python3 "$HERE/key_tones.py" "$CAPTURE_FIFO" "159#" 25 &
    BACKGROUND+=("$!")
fi
wait "$LISTENER"
rc=$?
cat "$WORK/listen.out"
if [ $rc -eq 2 ]; then
    fail "DirectSound found no capture device"
elif ! tr -d '\r' <"$WORK/listen.out" | grep -qx 'DIGITS 159#'; then
    fail "the capture did not report the digits 159# (exit $rc)"
fi

# --- Playback: a prompt of three files is heard in order on the playback device ------
say "playback: a prompt of three files through $SINK"
probe 30 tone one.wav 1 >/dev/null &&
    probe 30 tone two.wav 47 >/dev/null &&
    probe 30 tone three.wav 0 >/dev/null || fail "cannot write the prompt files"
HOME="$PULSE_HOME" timeout 90 parec -d "$SINK.monitor" --raw --format=s16le --rate=8000 --channels=1 \
    --latency-msec=20 >"$WORK/heard.raw" 2>"$WORK/parec.log" &
RECORDER=$!
BACKGROUND+=("$RECORDER")
# parec hands its samples on in pieces of up to a second: start once they flow, and give
# it time to hand on the last ones.
for _ in $(seq 100); do
    [ -s "$WORK/heard.raw" ] && break
    sleep 0.1
done
[ -s "$WORK/heard.raw" ] || fail "parec records nothing from $SINK.monitor"
probe 60 play 20 one.wav two.wav three.wav >"$WORK/play.out" 2>&1
rc=$?
cat "$WORK/play.out"
sleep 2
kill -INT "$RECORDER" 2>/dev/null
sleep 0.5
stop_pid "$RECORDER"
if [ $rc -eq 2 ]; then
    fail "DirectSound found no playback device"
elif [ $rc -ne 0 ]; then
    fail "the prompt did not finish (exit $rc)"
fi
probe 60 detect heard.raw >"$WORK/detect.out" 2>&1
cat "$WORK/detect.out"
if ! tr -d '\r' <"$WORK/detect.out" | grep -qx 'DIGITS 1470'; then
    fail "the playback device did not hear 1 47 0 in order ($(stat -c %s "$WORK/heard.raw") bytes recorded)"
fi

if [ $FAILED -ne 0 ]; then
    exit 1
fi
say "PASS"
exit 0
