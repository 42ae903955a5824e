#!/usr/bin/env bash
# The IVR's figures: the agent (answering-machine client) and the adapter stand-in under
# Wine, the adapter's sound device a private PulseAudio server's virtual devices.
#   start   the service's IVR_START (its write, stamped by the stand-in with the monotonic
#           clock) to the first prompt audio arriving from the playback device's monitor
#   key     a key's tone ended at the capture device (the feeder's write of its last
#           sample) to the menu's reaction arriving from the playback device: the next
#           menu's prompt
#   cpu     the agent's CPU while one dialogue plays its prompt, and idle before it
#   record  a recording of RECORD-MINUTES minutes compared sample for sample with what was
#           fed into the capture device; and the agent's CPU while it records
#   tests/bench/ivr_bench.sh [RUNS [RECORD-MINUTES]]      defaults 10 and 10 (0: no recording)
# Prompts are steady tones (440 Hz and 1000 Hz) so that the monitor can tell them apart.
# Besides the sentences, each figure is printed as `figure NAME VALUE`. Medians and the
# largest value over RUNS. Exit status 1 when a run failed.
set -euo pipefail
cd "$(dirname "$0")/../.."

RUNS=${1:-10}
MINUTES=${2:-10}
[ "$RUNS" -ge 1 ] && [ "$RUNS" -le 30 ] || { echo "RUNS: 1 to 30" >&2; exit 2; }
BUILD_DIR="${BUILD_DIR:-build}"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" -j 2 --target OrvinAdapterSim OrvinAgent OrvinAppCtl OrvinDtmf >/dev/null
BUILD_DIR=$(cd "$BUILD_DIR" && pwd)
export BUILD_DIR WINE_RUN="$BUILD_DIR/wine-run"
HERE="$PWD/tests/bench"
source tests/ivr/system/ivr-lib.sh
stop_wine() { "$WINE_RUN" --stop; }
"$WINE_RUN" --start
at_exit stop_wine

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
largest() { sort -n | tail -n 1; }
hz=$(getconf CLK_TCK)
# cpu_percent PID SECONDS: the process's CPU over the next SECONDS, in % of one core.
cpu_percent() {
    local before after
    before=$(sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }')
    sleep "$2"
    after=$(sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }')
    awk -v t=$((after - before)) -v hz="$hz" -v s="$2" 'BEGIN { printf "%.2f", 100 * t / hz / s }'
}

pulse_start
ivr_install VoiceMsgDurationSec=$((MINUTES * 60))
feed_start
sox -R -r 8000 -c 1 -b 16 -e signed-integer -n "$LANG_DIR/low.wav" synth 40 sine 440 vol 0.5
sox -R -r 8000 -c 1 -b 16 -e signed-integer -n "$LANG_DIR/high.wav" synth 40 sine 1000 vol 0.5
{
    for i in $(seq 0 "$RUNS"); do
        name=L$i
        [ "$i" = 0 ] && name=AMGreeting
        printf '[%s]\nType=DEFAULT\nSelectionTimeout=60000\nRepeat=1\nMask=1\nPrompt=P%d\nSubMenus=K%d\n' \
            "$name" $((i % 2)) "$i"
        printf '[K%d]\n1,L%d\n' "$i" $((i + 1))
    done
    printf '[P0]\nlow.wav\n[P1]\nhigh.wav\n[GoodBye]\nType=BYE\n'
} >"$LANG_DIR/Menu.cfg"

# What the playback device sounds like, as it changes.
HOME="$PULSE_HOME" parec -d "$PULSE_SINK.monitor" --raw --format=s16le --rate=8000 --channels=1 \
    --latency-msec=10 2>"$WORK/parec.err" | python3 "$HERE/ivr_sink_watch.py" >"$WORK/watch.txt" &
STARTED[watch]=$!

{
    echo "wait-agent timeout=30000"
    echo "expect AGENT_EVENT NotifyAgentStatus info=1 timeout=20000"
    echo "sleep 20000"
    for k in $(seq 1 "$RUNS"); do
        echo "send 7 0 info=1 buf1=$(buf1 "$k" 2 0)"
        echo "sleep 2500"
        echo "send 7 1 buf1=$(buf1 "$k")"
        echo "sleep 1500"
    done
    echo "send 7 0 info=1 buf1=$(buf1 100 2 0)"
    echo "sleep 3600000"
} >"$WORK/service.txt"
start_service service --log-qpc "$(winpath "$WORK/service.txt")"
start agent "$AGENT"
wait_text service.log "RX IMM MSG_TYPE_AGENT_EVENT NotifyAgentStatus info=1" 60
sleep 2
AGENT_PID=${STARTED[agent]} # the runner becomes the program
IDLE_CPU=$(cpu_percent "$AGENT_PID" 15)

# start: each IVR_START's write to the first 'low' after it.
wait_count service.log "TX IMM MSG_TYPE_IVR_EVENT IVR_START" $((RUNS + 1)) $((RUNS * 5 + 60))
sed -n 's/^.*@\([0-9]*\)\] TX IMM MSG_TYPE_IVR_EVENT IVR_START.*$/\1/p' "$WORK/service.log" |
    awk '{ printf "%.6f\n", $1 / 1e7 }' >"$WORK/starts.txt"
sleep 3 # the last dialogue's first prompt
awk 'NR == FNR { start[NR] = $1; n = NR; next }
     $2 == "low" { for (i = 1; i <= n; i++) if (!(i in seen) && $1 > start[i]) { seen[i] = 1; printf "%.0f\n", ($1 - start[i]) * 1000; break } }' \
    "$WORK/starts.txt" "$WORK/watch.txt" >"$WORK/start-ms.txt"
[ "$(wc -l <"$WORK/start-ms.txt")" = $((RUNS + 1)) ] || fail "not every IVR_START was heard: $(cat "$WORK/start-ms.txt")"

# cpu: the last dialogue plays its 40 s prompt; also by thread (Wine names its own).
thread_ticks() {
    local task
    for task in /proc/"$AGENT_PID"/task/*; do
        printf '%s %s %s\n' "${task##*/}" "$(tr ' ' '_' <"$task/comm")" \
            "$(sed 's/^.*) //' "$task/stat" | awk '{ print $12 + $13 }')"
    done
}
thread_ticks >"$WORK/threads-before.txt"
DIALOGUE_CPU=$(cpu_percent "$AGENT_PID" 15)
thread_ticks >"$WORK/threads-after.txt"

# key: '1' goes to the next menu, whose prompt is the other tone.
: >"$WORK/key-ms.txt"
for j in $(seq 1 "$RUNS"); do
    expected=low
    [ $((j % 2)) = 1 ] && expected=high
    feed "key$j" 1 10
    feed_wait "key$j"
    # The key file ends with 150 ms of silence after the tone: the key was released then.
    ended=$(awk '{ printf "%.6f", $1 - 0.150 }' "$WORK/feed/key$j.done")
    deadline=$((SECONDS + 10))
    until reacted=$(awk -v t="$ended" -v want="$expected" '$1 > t - 0.5 && $2 == want { print $1; exit }' "$WORK/watch.txt") &&
        [ -n "$reacted" ]; do
        [ $SECONDS -lt $deadline ] || fail "key $j: no $expected prompt within 10 s"
        sleep 0.1
    done
    awk -v a="$reacted" -v b="$ended" 'BEGIN { printf "%.0f\n", (a - b) * 1000 }' >>"$WORK/key-ms.txt"
    sleep 1
done
shutdown_agent
stop service

echo "IVR figures, OrvinAgent.exe under Wine on PulseAudio's virtual devices ($(nproc) cores), $RUNS runs"
echo "start: $(paste -sd' ' "$WORK/start-ms.txt") ms; median $(median <"$WORK/start-ms.txt") ms, largest $(largest <"$WORK/start-ms.txt") ms"
echo "figure ivr_start_to_first_audio_ms $(median <"$WORK/start-ms.txt")"
echo "key: $(paste -sd' ' "$WORK/key-ms.txt") ms; median $(median <"$WORK/key-ms.txt") ms, largest $(largest <"$WORK/key-ms.txt") ms"
echo "figure ivr_key_to_reaction_ms $(median <"$WORK/key-ms.txt")"
echo "cpu: idle ${IDLE_CPU}%, one dialogue playing ${DIALOGUE_CPU}% of one core"
awk -v hz="$hz" 'NR == FNR { before[$1] = $3; next }
     { t = $3 - before[$1]; if (t > 0) printf "  thread %s (%s): %.2f%%\n", $1, $2, 100 * t / hz / 15 }' \
    "$WORK/threads-before.txt" "$WORK/threads-after.txt"
echo "figure ivr_idle_cpu_percent $IDLE_CPU"
echo "figure ivr_dialogue_cpu_percent $DIALOGUE_CPU"

[ "$MINUTES" -gt 0 ] || exit 0

# ---- record: a message of MINUTES minutes; the fed pattern must be in it whole.
printf '[AMGreeting]\nType=MSGREC\nRepeat=1\nMask=#\nPrompt=Beep\n[Beep]\nbeep.wav\n[GoodBye]\nType=BYE\n' \
    >"$LANG_DIR/Menu.cfg"
rm -rf "$INSTALL/IVR/VoiceMail"
python3 - "$WORK/pattern.wav" $((MINUTES * 60 - 3)) <<'PY'
import array, sys, wave
count = int(sys.argv[2]) * 8000
x, samples = 12345, array.array("h")
for _ in range(count):
    x = (x * 1103515245 + 12345) & 0x7FFFFFFF
    samples.append((x >> 16) % 24001 - 12000 or 1)
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
    w.writeframes(samples.tobytes())
PY
cat >"$WORK/record.txt" <<SCRIPT
wait-agent timeout=30000
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=20000
send 7 0 info=1 buf1=$(buf1 200 2 0)
expect 7 8 buf1=$(buf1 200 8) timeout=30000
expect 7 6 buf1=$(buf1 200 0) timeout=$(((MINUTES * 60 + 60) * 1000))
send 7 1 buf1=$(buf1 200)
sleep 500
SCRIPT
reg_add "$TRACE_KEY" /v DebugFile /d "$(winpath "$WORK/trace.txt")"
start_service record-service "$(winpath "$WORK/record.txt")"
start agent "$AGENT"
wait_count trace.txt "IvrManager::SendControlMsg Tye 7, Message 8" 1 60
cp "$WORK/pattern.wav" "$WORK/feed/pattern.tmp" && mv "$WORK/feed/pattern.tmp" "$WORK/feed/pattern.wav"
sleep 5
RECORD_CPU=$(cpu_percent "${STARTED[agent]}" 30)
expect_status record-service 0 $((MINUTES * 60 + 120))
shutdown_agent
messages=("$INSTALL"/IVR/VoiceMail/vm*.wav)
python3 - "${messages[0]}" "$WORK/pattern.wav" <<'PY' | tee "$WORK/compare.txt"
import array, sys, wave
def read(path):
    with wave.open(path, "rb") as w:
        data = array.array("h")
        data.frombytes(w.readframes(w.getnframes()))
        return data
got, fed = read(sys.argv[1]), read(sys.argv[2])
start = next((i for i, s in enumerate(got) if s != 0), None)
if start is None:
    print("record: the recording is silent"); sys.exit(1)
part = got[start:start + len(fed)]
lost = len(fed) - len(part)
diff = sum(1 for a, b in zip(part, fed) if a != b)
print("record: %.1f s recorded; the %.1f s fed found from %.3f s on; %d samples missing, %d differ"
      % (len(got) / 8000, len(fed) / 8000, start / 8000, lost, diff))
print("figure ivr_record_samples_lost %d" % (lost + diff))
sys.exit(0 if lost == 0 and diff == 0 else 1)
PY
echo "cpu: recording ${RECORD_CPU}% of one core"
echo "figure ivr_recording_cpu_percent $RECORD_CPU"
