#!/usr/bin/env bash
# The IVR's figures: the agent (answering-machine client) and the adapter stand-in under
# Wine, the adapter's sound device a private PulseAudio server's virtual devices; each
# figure beside its floor, measured in the same run by a plain DirectSound program
# (tests/bench/floor/IvrFloor.cpp: bench_ivr_floor.exe) timed exactly as the agent is.
#   start   the service's IVR_START (its write, stamped by the stand-in with the performance
#           counter) to the first prompt audio arriving from the playback device's monitor;
#           floor: the plain program opening DirectSound on the same trigger and playing
#           the same tone
#   key     a key's tone ended at the capture device (the feeder's write of its last
#           sample) to the menu's reaction arriving from the playback device: the next
#           menu's prompt; floors: capture (the tone's end to the plain program's capture
#           notification that holds it, notified every 10 ms) and playback (its prompt
#           switched to the sound arriving); the target adds the detector's 20 ms (a key
#           is reported at the second silent 10 ms block) and 20 ms
#   cpu     the agent's CPU while one dialogue plays its prompt, and idle before it
#   record  a recording of RECORD-MINUTES minutes compared sample for sample with what was
#           fed into the capture device; and the agent's CPU while it records
#   prompts a dialogue playing a prompt of two files PROMPTS times, its audio at the playback
#           device compared with the files (tests/bench/ivr_prompt_check.py): the count
#           that differ, quiet and beside a CPU hog on every core (target 0)
#   tests/bench/ivr_bench.sh [RUNS [RECORD-MINUTES [PROMPTS]]]  defaults 10, 10 (0: no
#           recording) and 100
# Prompts are steady tones (440 Hz and 1000 Hz) so that the monitor can tell them apart.
# Besides the sentences, each figure is printed as `figure NAME VALUE`, the floors' too
# (`ivr_start_floor_ms`), and each agent figure also as the difference to its floor
# (`ivr_start_over_floor_ms`) and its multiple (`ivr_start_floors`). Medians and the
# largest value over RUNS. Exit status 1 when a run failed.
set -euo pipefail
cd "$(dirname "$0")/../.."

RUNS=${1:-10}
MINUTES=${2:-10}
PROMPTS=${3:-100}
[ "$RUNS" -ge 1 ] && [ "$RUNS" -le 30 ] || { echo "RUNS: 1 to 30" >&2; exit 2; }
BUILD_DIR="${BUILD_DIR:-build}"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" -j 2 --target OrvinAdapterSim OrvinAgent OrvinAppCtl OrvinDtmf bench_ivr_floor >/dev/null
BUILD_DIR=$(cd "$BUILD_DIR" && pwd)
export BUILD_DIR WINE_RUN="$BUILD_DIR/wine-run"
HERE="$PWD/tests/bench"
FLOOR="$BUILD_DIR/tests/bench/floor/bench_ivr_floor.exe"
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

# start_ms LOG OUT COUNT: each IVR_START the stand-in wrote (LOG) to the first 'low' heard
# after it, in ms, into OUT; COUNT of them must be heard.
start_ms() {
    sed -n 's/^.*@\([0-9]*\)\] TX IMM MSG_TYPE_IVR_EVENT IVR_START.*$/\1/p' "$WORK/$1" |
        awk '{ printf "%.6f\n", $1 / 1e7 }' >"$WORK/$2.starts"
    awk 'NR == FNR { start[NR] = $1; n = NR; next }
         $2 == "low" { for (i = 1; i <= n; i++) if (!(i in seen) && $1 > start[i]) { seen[i] = 1; printf "%.0f\n", ($1 - start[i]) * 1000; break } }' \
        "$WORK/$2.starts" "$WORK/watch.txt" >"$WORK/$2"
    [ "$(wc -l <"$WORK/$2")" = "$3" ] || fail "not every IVR_START was heard ($2): $(cat "$WORK/$2")"
}

# key_ms NAME: RUNS keys '1', each 100 ms, fed into the capture device; each one's end to
# the other tone heard (high after the first, low after the second ...), in ms, into
# $WORK/NAME-ms.txt; the ends (seconds) into $WORK/NAME-ends.txt, what was heard into
# $WORK/NAME-heard.txt.
key_ms() {
    local j expected ended reacted deadline
    : >"$WORK/$1-ms.txt"
    : >"$WORK/$1-ends.txt"
    : >"$WORK/$1-heard.txt"
    for j in $(seq 1 "$RUNS"); do
        expected=low
        [ $((j % 2)) = 1 ] && expected=high
        feed "$1$j" 1 10
        feed_wait "$1$j"
        # The key file ends with 150 ms of silence after the tone: the key was released then.
        ended=$(awk '{ printf "%.6f", $1 - 0.150 }' "$WORK/feed/$1$j.done")
        deadline=$((SECONDS + 10))
        until reacted=$(awk -v t="$ended" -v want="$expected" '$1 > t - 0.5 && $2 == want { print $1; exit }' "$WORK/watch.txt") &&
            [ -n "$reacted" ]; do
            [ $SECONDS -lt $deadline ] || fail "$1 $j: no $expected tone within 10 s"
            sleep 0.1
        done
        echo "$ended" >>"$WORK/$1-ends.txt"
        echo "$reacted" >>"$WORK/$1-heard.txt"
        awk -v a="$reacted" -v b="$ended" 'BEGIN { printf "%.0f\n", (a - b) * 1000 }' >>"$WORK/$1-ms.txt"
        sleep 1
    done
}

# dialogues: the service's script lines for RUNS dialogues (answering machine), 4 s apart.
dialogues() {
    local k
    for k in $(seq 1 "$RUNS"); do
        echo "send 7 0 info=1 buf1=$(buf1 "$k" 2 0)"
        echo "sleep 2500"
        echo "send 7 1 buf1=$(buf1 "$k")"
        echo "sleep 1500"
    done
}

# ---- The floor: first the start, then the keys.
{
    echo "wait-agent timeout=30000"
    echo "sleep 3000"
    dialogues
} >"$WORK/floor-service.txt"
start_service floor-service --log-qpc "$(winpath "$WORK/floor-service.txt")"
start floor-start "$FLOOR" start
expect_status floor-service 0 $((RUNS * 5 + 60))
expect_status floor-start 0 30
start_ms floor-service.log floor-start-ms.txt "$RUNS"

start floor-keys "$FLOOR" keys "$RUNS"
deadline=$((SECONDS + 20))
until [ "$(tail -n 1 "$WORK/watch.txt" | awk '{ print $2 }')" = low ]; do
    [ $SECONDS -lt $deadline ] || fail "the floor's tone is not heard"
    sleep 0.1
done
sleep 1
key_ms floor-key
expect_status floor-keys 0 30
# Per key: capture = the notification holding the tone's end - the end; playback = heard -
# the switch.
tr -d '\r' <"$WORK/floor-keys.out" | awk '$1 == "key" { print $2, $3 }' >"$WORK/floor-key-stamps.txt"
paste -d' ' "$WORK/floor-key-ends.txt" "$WORK/floor-key-stamps.txt" |
    awk '{ printf "%.0f\n", ($2 - $1) * 1000 }' >"$WORK/floor-capture-ms.txt"
paste -d' ' "$WORK/floor-key-stamps.txt" "$WORK/floor-key-heard.txt" |
    awk '{ printf "%.0f\n", ($3 - $2) * 1000 }' >"$WORK/floor-playback-ms.txt"
[ "$(wc -l <"$WORK/floor-capture-ms.txt")" = "$RUNS" ] || fail "the floor did not switch at every key"

# ---- The agent.
{
    echo "wait-agent timeout=30000"
    echo "expect AGENT_EVENT NotifyAgentStatus info=1 timeout=20000"
    echo "sleep 20000"
    dialogues
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
sleep 3 # the last dialogue's first prompt
start_ms service.log start-ms.txt $((RUNS + 1))

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
key_ms key
shutdown_agent
stop service

# ---- Prompts under load: one dialogue plays a prompt (two files of 1.19 s, chirps up and
# down, so that a gap, a repeat or a warp shows) PROMPTS times, quiet, then again beside a
# CPU hog on every core; the prompts heard that differ from their files are counted.
python3 - "$LANG_DIR" <<'PY'
import array, math, sys, wave
for name, f0, f1 in (("up.wav", 200.0, 1000.0), ("down.wav", 1000.0, 200.0)):
    n, phase, samples = 9500, 0.0, array.array("h")
    for i in range(n):
        phase += 2 * math.pi * (f0 + (f1 - f0) * i / n) / 8000
        samples.append(int(12000 * math.sin(phase)))
    with wave.open(sys.argv[1] + "/" + name, "wb") as w:
        w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
        w.writeframes(samples.tobytes())
PY
# As the stream plays them: the second file starts at the segment boundary after the first.
sox "$LANG_DIR/up.wav" "$WORK/up-padded.wav" pad 0 100s
sox "$WORK/up-padded.wav" "$LANG_DIR/down.wav" "$WORK/prompt.wav"
printf '[AMGreeting]\nType=DEFAULT\nSelectionTimeout=300\nRepeat=%d\nMask=1\nPrompt=PP\n[PP]\nup.wav\ndown.wav\n[GoodBye]\nType=BYE\n' \
    "$PROMPTS" >"$LANG_DIR/Menu.cfg"
# prompt_run NAME: the agent, one dialogue of PROMPTS prompts, the playback device recorded;
# sets DIFFER to the count that differ.
prompt_run() {
    {
        echo "wait-agent timeout=30000"
        echo "expect AGENT_EVENT NotifyAgentStatus info=1 timeout=20000"
        echo "sleep 1000"
        echo "send 7 0 info=1 buf1=$(buf1 300 2 0)"
        echo "sleep $((PROMPTS * 3100 + 2000))"
        echo "send 7 1 buf1=$(buf1 300)"
        echo "sleep 500"
    } >"$WORK/$1-service.txt"
    record_playback "$1"
    start_service "$1-service" "$(winpath "$WORK/$1-service.txt")"
    start agent "$AGENT"
    expect_status "$1-service" 0 $((PROMPTS * 3 + 120))
    shutdown_agent
    stop "$1"
    python3 "$HERE/ivr_prompt_check.py" "$WORK/$1.raw" "$WORK/prompt.wav" "$PROMPTS" | tee "$WORK/$1-check.txt" |
        grep -v '^differ '
    DIFFER=$(awk '$1 == "differ" { print $2 }' "$WORK/$1-check.txt")
}
prompt_run prompts-quiet
QUIET_DIFFER=$DIFFER
HOGS=()
for core in $(seq "$(nproc)"); do
    bash -c 'while :; do :; done' &
    HOGS+=($!)
done
stop_hogs() { [ ${#HOGS[@]} = 0 ] || kill "${HOGS[@]}" 2>/dev/null || true; }
at_exit stop_hogs
prompt_run prompts-load
LOAD_DIFFER=$DIFFER
kill "${HOGS[@]}" 2>/dev/null || true
HOGS=()

# line NAME TEXT FILE: the values, their median and largest, and `figure NAME MEDIAN`.
line() {
    echo "$2: $(paste -sd' ' "$WORK/$3") ms; median $(median <"$WORK/$3") ms, largest $(largest <"$WORK/$3") ms"
    echo "figure $1 $(median <"$WORK/$3")"
}
# beside NAME VALUE FLOOR TARGET-ABOVE: the difference to the floor and the multiple.
beside() {
    awk -v n="$1" -v v="$2" -v f="$3" -v t="$4" 'BEGIN {
        printf "  = floor %.0f ms + %.0f ms, %.2f x the floor; target floor + %d ms: %s\n", f, v - f, v / f, t, (v - f <= t) ? "met" : "not met"
        printf "figure %s_over_floor_ms %.0f\nfigure %s_floors %.2f\n", n, v - f, n, v / f }'
}
echo "IVR figures, OrvinAgent.exe under Wine on PulseAudio's virtual devices ($(nproc) cores), $RUNS runs"
line ivr_start_floor_ms "floor start (the plain program: IVR_START to its tone heard)" floor-start-ms.txt
line ivr_start_to_first_audio_ms "start (IVR_START to the first prompt heard)" start-ms.txt
beside ivr_start "$(median <"$WORK/start-ms.txt")" "$(median <"$WORK/floor-start-ms.txt")" 20
line ivr_capture_floor_ms "floor capture (a key's end to the plain program's notification holding it)" floor-capture-ms.txt
line ivr_playback_floor_ms "floor playback (the plain program's switch to the other tone heard)" floor-playback-ms.txt
line ivr_key_plain_ms "floor key (the plain program: a key's end to the other tone heard)" floor-key-ms.txt
paste -d' ' "$WORK/floor-capture-ms.txt" "$WORK/floor-playback-ms.txt" | awk '{ print $1 + $2 }' >"$WORK/floor-key-sum-ms.txt"
echo "figure ivr_key_floor_ms $(median <"$WORK/floor-key-sum-ms.txt")"
line ivr_key_to_reaction_ms "key (a key's end to the next menu's prompt heard)" key-ms.txt
echo "  the key's floor: capture + playback, median $(median <"$WORK/floor-key-sum-ms.txt") ms; the detector adds 20 ms"
beside ivr_key "$(median <"$WORK/key-ms.txt")" "$(median <"$WORK/floor-key-sum-ms.txt")" 40
echo "prompts whose audio differs from their files: quiet $QUIET_DIFFER of $PROMPTS, beside a CPU hog on every core $LOAD_DIFFER of $PROMPTS (target 0)"
echo "figure ivr_prompts_differing_quiet $QUIET_DIFFER"
echo "figure ivr_prompts_differing_load $LOAD_DIFFER"
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
