# Sourced after systest-lib.sh by drivers that need sound: a private PulseAudio server
# with two virtual devices, made the defaults, and the Wine prefix's audio driver set to
# pulse; both undone when the driver ends. The server's runtime folder (its socket) is a
# short private folder under /tmp (runtime-dir.sh), its log, home and FIFO in $WORK/pulse.
#   - capture: a pipe source that hears whatever is written into $CAPTURE_FIFO (keep it
#     fed in real time, or the capture stands still);
#   - playback: a null sink, recorded in real time with record_playback.
# Needs the CTest lock "pulseaudio".

source "$(dirname "${BASH_SOURCE[0]}")/runtime-dir.sh"

PULSE_SOURCE=orvin_test_capture
PULSE_SINK=orvin_test_playback

pa() { HOME="$PULSE_HOME" timeout 10 "$@"; }

pulse_stop() {
    runtime_dir_stop_pulse
    runtime_dir_remove
    if [ "${PULSE_DRIVER_SET:-0}" = 1 ]; then
        timeout 30 "$WINE_RUN" reg delete 'HKCU\Software\Wine\Drivers' /v Audio /f >/dev/null 2>&1 || true
    fi
}

# pulse_start: the server (its files in $WORK/pulse), its devices, the prefix's driver.
pulse_start() {
    local dir="$WORK/pulse" tool
    for tool in pulseaudio pactl parec python3 sox; do
        command -v "$tool" >/dev/null || fail "$tool is missing; scripts/install-deps.sh installs it"
    done
    mkdir -p "$dir/home"
    at_exit pulse_stop
    runtime_dir_make || fail "no private runtime folder under /tmp for the PulseAudio server"
    export XDG_RUNTIME_DIR="$RUNTIME_DIR"
    PULSE_HOME="$dir/home"
    CAPTURE_FIFO="$dir/capture.fifo"
    HOME="$PULSE_HOME" timeout 30 pulseaudio -n --daemonize=yes --exit-idle-time=-1 --system=false \
        --log-target="file:$dir/pulse.log" --load="module-native-protocol-unix auth-anonymous=1" \
        2>>"$dir/pulse.log" || fail "the PulseAudio server did not start"
    local i
    for i in $(seq 50); do
        pa pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    pa pactl info >/dev/null 2>&1 || fail "the PulseAudio server does not answer"
    pa pactl load-module module-pipe-source source_name=$PULSE_SOURCE file="$CAPTURE_FIFO" \
        format=s16le rate=8000 channels=1 >/dev/null || fail "no pipe source"
    pa pactl load-module module-null-sink sink_name=$PULSE_SINK >/dev/null || fail "no null sink"
    pa pactl set-default-source $PULSE_SOURCE
    pa pactl set-default-sink $PULSE_SINK
    timeout 60 "$WINE_RUN" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >/dev/null 2>&1 ||
        fail "can not set the Wine prefix's audio driver"
    PULSE_DRIVER_SET=1
}

# record_playback NAME: records the playback device into $WORK/NAME.raw (8000 Hz s16le
# mono) in the background, from once the samples flow; stop it with `stop NAME`.
record_playback() {
    HOME="$PULSE_HOME" parec -d "$PULSE_SINK.monitor" --raw --format=s16le --rate=8000 --channels=1 \
        --latency-msec=20 >"$WORK/$1.raw" 2>"$WORK/$1.err" &
    STARTED[$1]=$!
    local i
    for i in $(seq 100); do
        [ -s "$WORK/$1.raw" ] && return 0
        sleep 0.1
    done
    fail "parec records nothing from $PULSE_SINK.monitor"
}
