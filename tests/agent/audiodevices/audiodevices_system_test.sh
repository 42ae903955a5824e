#!/usr/bin/env bash
# The device search on the real winmm under Wine, with a private PulseAudio server whose
# virtual devices stand in for the adapter:
#   1. a playback device named "Orvin Virtual Audio Device" and a capture device named as
#      Windows names the adapter's microphone, "Microphone (Orvin Virtual Audio Device)":
#      the first is found by its name, the second through its name cut at 31 characters,
#      on a mixer with a wave-in line. (Not a playback device named the Windows way: the
#      sound server's "Monitor of Speakers (Orvin Virt" would match as well, and which
#      capture mixer comes last is up to the server's order.)
#   2. a playback and a capture device named "BTAUDIO": found by the fallback, numbered
#      variants off;
#   3. no device of the adapter: nothing found.
#
#   audiodevices_system_test.sh PATH/TO/audio_devices_probe.exe
# Environment (set by CTest): WINE_RUN (the build's wine runner), BUILD_DIR.
set -u

PROBE="${1:?usage: audiodevices_system_test.sh PATH/TO/audio_devices_probe.exe}"
: "${WINE_RUN:?WINE_RUN must name the wine runner of the build}"
: "${BUILD_DIR:?BUILD_DIR must name the build folder}"
PROBE="$(cd "$(dirname "$PROBE")" && pwd)/$(basename "$PROBE")"
# The sound server's runtime folder (its socket): short and private under /tmp.
source "$(dirname "$0")/../../lib/runtime-dir.sh"

WORK="$BUILD_DIR/audiodevices-system"
rm -rf "$WORK"
mkdir -p "$WORK/home"
WORK="$(cd "$WORK" && pwd)"
if ! runtime_dir_make; then
    echo "audiodevices_system_test: FAIL: no private runtime folder under /tmp" >&2
    exit 1
fi
export XDG_RUNTIME_DIR="$RUNTIME_DIR"
PULSE_HOME="$WORK/home"

DRIVER_SET=0
FAILED=0
MODULES=()

say() { echo "audiodevices_system_test: $*"; }
fail() {
    say "FAIL: $*"
    FAILED=1
}
pa() { HOME="$PULSE_HOME" timeout 10 "$@"; }

cleanup() {
    runtime_dir_stop_pulse
    runtime_dir_remove
    if [ "$DRIVER_SET" = 1 ]; then
        timeout 30 "$WINE_RUN" reg delete 'HKCU\Software\Wine\Drivers' /v Audio /f >/dev/null 2>&1
    fi
}
trap cleanup EXIT

for tool in pulseaudio pactl; do
    if ! command -v "$tool" >/dev/null; then
        say "FAIL: $tool is missing; scripts/install-deps.sh installs it"
        exit 1
    fi
done

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
if ! timeout 60 "$WINE_RUN" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >/dev/null 2>&1; then
    say "FAIL: cannot set the Wine prefix's audio driver"
    exit 1
fi
DRIVER_SET=1

# Devices named $1 (playback) and $2 (capture); blanks are escaped for PulseAudio.
load_devices() {
    local sink="${1// /\\ }" source="${2// /\\ }" id
    rm -f "$WORK/capture.fifo"
    id=$(pa pactl load-module module-null-sink sink_name=orvin_test_out "sink_properties=device.description=\"$sink\"") &&
        MODULES+=("$id")
    id=$(pa pactl load-module module-pipe-source source_name=orvin_test_in file="$WORK/capture.fifo" \
        format=s16le rate=8000 channels=1 "source_properties=device.description=\"$source\"") &&
        MODULES+=("$id")
    [ ${#MODULES[@]} -eq 2 ] || fail "PulseAudio refused the devices \"$1\" and \"$2\""
}
unload_devices() {
    local id
    for id in "${MODULES[@]}"; do
        pa pactl unload-module "$id"
    done
    MODULES=()
}

# Runs the probe into $WORK/$1.out (line ends made Unix).
probe() {
    (cd "$WORK" && timeout 60 "$WINE_RUN" "$PROBE") 2>"$WORK/$1.err" | tr -d '\r' >"$WORK/$1.out"
    say "$1:"
    sed 's/^/    /' "$WORK/$1.out"
}
expect_line() {
    grep -qx -- "$2" "$WORK/$1.out" || fail "$1: no line \"$2\""
}
# The mixer chosen for $2 (CAPTURE or PLAYBACK) has line $3 (in or out).
expect_line_kind() {
    local id column
    id=$(awk -v what="$2" '$1 == what { print $2 }' "$WORK/$1.out")
    [ "$3" = in ] && column=3 || column=4
    awk -v id="$id" -v c=$column '$1 == "MIXER" && $2 == id && $c == 1 { found = 1 } END { exit !found }' \
        "$WORK/$1.out" || fail "$1: the $2 mixer ($id) has no wave-$3 line"
}

say "1. the adapter's name and a cut Windows name"
load_devices "Orvin Virtual Audio Device" "Microphone (Orvin Virtual Audio Device)"
probe endpoints
expect_line endpoints "FOUND 1"
expect_line endpoints "CAPTURE [0-9]* Microphone (Orvin Virtual Audio"
expect_line endpoints "PLAYBACK [0-9]* Orvin Virtual Audio Device"
expect_line endpoints "NUMBERED 1"
expect_line_kind endpoints CAPTURE in
expect_line_kind endpoints PLAYBACK out
unload_devices

say "2. the fallback device"
load_devices "BTAUDIO" "BTAUDIO"
probe fallback
expect_line fallback "FOUND 1"
expect_line fallback "CAPTURE [0-9]* BTAUDIO"
expect_line fallback "PLAYBACK [0-9]* BTAUDIO"
expect_line fallback "NUMBERED 0"
unload_devices

say "3. no adapter"
load_devices "Line Out" "Line In"
probe none
expect_line none "FOUND 0"
expect_line none "CAPTURE 65535 -"
expect_line none "PLAYBACK 65535 -"
grep -q '^MIXER [0-9]* [01] [01] Line In$' "$WORK/none.out" || fail "none: the mixers were not seen"
unload_devices

if [ $FAILED -ne 0 ]; then
    exit 1
fi
say "PASS"
exit 0
