#!/usr/bin/env bash
# The call recorder's cost and pace: OrvinAgent.exe (answering-machine client) against the
# adapter stand-in playing the recorder driver, under Wine, no trace.
#   idle       the agent registered with the driver, not recording: CPU over IDLE-SECONDS
#   recording  the agent recording a call the driver delivers at its own pace (19200
#              bytes a second in 50 ms records): CPU over the whole call, and above idle
#   records    what the driver queued, what the agent read, what was lost (the driver's
#              queue holds 256 KiB, about 13 s of audio), the deepest the queue got, and
#              whether the file is sample for sample the call (sox)
#   tests/bench/recorder_bench.sh [CALL-SECONDS [IDLE-SECONDS]]     defaults 600 and 30
# Besides the sentences, each figure is printed as `figure NAME VALUE`. Exit status 1 when
# the run failed or a record was lost.
set -euo pipefail
cd "$(dirname "$0")/../.."

CALL_SECONDS=${1:-600}
IDLE_SECONDS=${2:-30}
BUILD_DIR="${BUILD_DIR:-build}"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" -j 2 --target OrvinAdapterSim OrvinAgent OrvinAppCtl >/dev/null
command -v sox >/dev/null || { echo "sox is missing (scripts/install-deps.sh)" >&2; exit 1; }

RUN="$BUILD_DIR/wine-run"
SIM="$BUILD_DIR/tools/OrvinAdapterSim/OrvinAdapterSim.exe"
AGENT="$BUILD_DIR/src/agent/OrvinAgent.exe"
APPCTL="$BUILD_DIR/tools/OrvinAppCtl/OrvinAppCtl.exe"
WORK=$(mktemp -d)
PREFIX=$("$RUN" --env | sed -n 's/^WINEPREFIX=\([^ ]*\) .*/\1/p')
mkdir -p "$PREFIX"
source tests/bench/bench-lib.sh
ROOT='SOFTWARE\OrvinBench\Recorder'
TRACE_KEY='HKLM\Software\Velcora\Quendo'
PIPE_SWITCH_KEY='HKLM\SOFTWARE\OrvinTest\DriverPipes' # the stand-in driver's pipe, for tests only

SERVER_BEFORE=$(prefix_server)
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do
        kill -9 "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    "$RUN" reg delete "HKLM\\$ROOT" /f </dev/null >/dev/null 2>&1 || true
    "$RUN" reg delete "$TRACE_KEY" /v DebugType /f </dev/null >/dev/null 2>&1 || true
    "$RUN" reg delete "$PIPE_SWITCH_KEY" /v ovrecagentDevice0 /f </dev/null >/dev/null 2>&1 || true
    [ -n "${KEEP_LOGS:-}" ] && echo "logs kept in $WORK" || rm -rf "$WORK"
    [ -n "$SERVER_BEFORE" ] || "$RUN" --stop
}
trap cleanup EXIT
"$RUN" --start
reg() { "$RUN" reg add "$@" /f </dev/null >/dev/null 2>&1; }
mkdir -p "$WORK/recordings"
reg "HKLM\\$ROOT\\Config\\General" /v SoftPhoneType /t REG_BINARY /d 00c00000b8000000
reg "HKLM\\$ROOT\\Config\\UI" /v Enable /t REG_DWORD /d 1
reg "HKLM\\$ROOT\\Recorder" /v Directory /d "$(winpath "$WORK/recordings")"
reg "$TRACE_KEY" /v DebugType /t REG_DWORD /d 0 # no trace: its cost is not the agent's
reg "$PIPE_SWITCH_KEY" /v ovrecagentDevice0 /t REG_DWORD /d 1

now_ms() { date +%s%3N; }
until_text() {
    local deadline=$(($(now_ms) + $3 * 1000))
    until grep -qF -- "$2" "$1" 2>/dev/null; do
        [ "$(now_ms)" -lt $deadline ] || return 1
        sleep 0.01
    done
}
percent() { # TICKS SECONDS
    awk -v t="$1" -v hz="$(getconf CLK_TCK)" -v s="$2" 'BEGIN { printf "%.2f", 100 * t / hz / s }'
}

sox -n -r 9600 -c 1 -b 16 -e signed-integer "$WORK/call.wav" synth "$CALL_SECONDS" sine 300-3000 \
    whitenoise vol 0.3 remix - 2>/dev/null
cat >"$WORK/script.txt" <<SCRIPT
wait-agent timeout=30000
expect AGENT_EVENT NotifyAgentStatus info=1
rec-expect-register timeout=20000
sleep $(((IDLE_SECONDS + 4) * 1000))
rec-event 1
expect AGENT_EVENT NotifyAgentStatus info=8
rec-expect-channels VCLCTRL,VCLOG
rec-audio $(winpath "$WORK/call.wav") pace=realtime
rec-event 2
expect AGENT_EVENT NotifyAgentStatus info=9
rec-drain
rec-report
expect AGENT_EVENT NotifyAgentStatus info=3 timeout=60000
SCRIPT

echo "OrvinAgent.exe recording a ${CALL_SECONDS} s call from OrvinAdapterSim.exe's recorder driver, under Wine ($(nproc) cores)"
"$RUN" "$SIM" --quiet --key0 "$ROOT" --log "$(winpath "$WORK/sim.log")" "$(winpath "$WORK/script.txt")" \
    </dev/null >"$WORK/sim.out" 2>"$WORK/sim.err" &
sim=$!
PIDS+=("$sim")
until_text "$WORK/sim.log" "] serving " 30 || { echo "the stand-in did not start" >&2; exit 1; }
"$RUN" "$AGENT" </dev/null >/dev/null 2>&1 &
agent=$!
PIDS+=("$agent")
until_text "$WORK/sim.log" " registered: registration " 30 || { echo "the agent did not register" >&2; exit 1; }

sleep 2 # past the start's own work
before=$(cpu_ticks "$agent")
sleep "$IDLE_SECONDS"
after=$(cpu_ticks "$agent")
idle=$(percent $((after - before)) "$IDLE_SECONDS")

until_text "$WORK/sim.log" "chose channels VCLCTRL,VCLOG" 30 || { echo "the recording did not start" >&2; exit 1; }
t0=$(now_ms)
before=$(cpu_ticks "$agent")
until_text "$WORK/sim.log" "REC queued VCLCTRL event 2" $((CALL_SECONDS + 60)) ||
    { echo "the call did not end within $((CALL_SECONDS + 60)) s" >&2; exit 1; }
after=$(cpu_ticks "$agent")
seconds=$(awk -v ms=$(($(now_ms) - t0)) 'BEGIN { printf "%.1f", ms / 1000 }')
recording=$(percent $((after - before)) "$seconds")
above=$(awk -v r="$recording" -v i="$idle" 'BEGIN { printf "%.2f", r - i }')

until_text "$WORK/sim.out" "recorder: " 60 || { echo "no report from the stand-in" >&2; cat "$WORK/sim.err" >&2; exit 1; }
"$RUN" "$APPCTL" shutdown 2 </dev/null >/dev/null 2>&1 || true
wait_pid "$agent" 30
wait_pid "$sim" 60
[ "$STATUS" = 0 ] || { echo "the stand-in's script failed ($STATUS)" >&2; cat "$WORK/sim.err" >&2; exit 1; }

report=$(grep -F "recorder: " "$WORK/sim.out" | head -1)
field() { sed -n "s/.* $1=\([0-9]*\).*/\1/p" <<<"$report"; }
queued=$(field audio_bytes_queued)
read=$(field audio_bytes_read)
overflow=$(field dropped_overflow)
unsubscribed=$(field dropped_unsubscribed)
deepest=$(field max_queue_bytes)
reads=$(field reads)
file=$(ls "$WORK/recordings"/*.wav | head -1)
same=no
cmp -s <(sox "$file" -t raw - 2>/dev/null) <(sox "$WORK/call.wav" -t raw - 2>/dev/null) && same=yes

echo "idle: ${idle}% of one core over ${IDLE_SECONDS} s"
echo "recording: ${recording}% of one core over ${seconds} s of call (${above} points above idle)"
echo "records: audio queued ${queued} bytes, read ${read}, lost to a full queue ${overflow} records, for nobody ${unsubscribed}; ${reads} reads; deepest queue ${deepest} bytes ($(awk -v b="$deepest" 'BEGIN { printf "%.0f", b / 19.2 }') ms of audio); file the call sample for sample: ${same}"
echo "figure recorder_idle_cpu_percent $idle"
echo "figure recorder_recording_cpu_percent $recording"
echo "figure recorder_cpu_above_idle_points $above"
echo "figure recorder_records_lost $overflow"
echo "figure recorder_deepest_queue_bytes $deepest"
[ "$overflow" = 0 ] && [ "$queued" = "$read" ] && [ "$same" = yes ]
