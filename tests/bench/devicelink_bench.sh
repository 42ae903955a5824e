#!/usr/bin/env bash
# Device-link figures across processes: the adapter stand-in (OrvinAdapterSim.exe) feeds a
# real CIoManager in bench_ioman.exe under Wine.
#   tests/bench/devicelink_bench.sh [LATENCY-EVENTS [BURST-EVENTS [IDLE-SECONDS]]]
# defaults 300, 1000 and 30. BUILD_DIR chooses the build folder (default: build).
#   latency  one event at a time (37 ms apart): the stand-in's write to the owner callback
#   reverse  LATENCY-EVENTS requests one at a time (37 ms apart): the agent's SendEvent to
#            the stand-in's read (its `measure` command)
#   burst    BURST-EVENTS written back to back: all delivered, in order, and how long
#   idle     a connected I/O manager doing nothing: CPU of its process (GetProcessTimes and
#            /proc), and of the wine server that every Wine process of the prefix shares
# Besides the sentences, every figure is printed once more as `figure NAME VALUE` (lines a
# script can grep). Exit status 1 when a case's work went wrong (events lost or out of order).
set -euo pipefail
cd "$(dirname "$0")/../.."

LATENCY_EVENTS=${1:-300}
BURST_EVENTS=${2:-1000}
IDLE_SECONDS=${3:-30}
BUILD_DIR="${BUILD_DIR:-build}"

if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" -j 2 --target OrvinAdapterSim bench_ioman >/dev/null

RUN="$BUILD_DIR/wine-run"
SIM="$BUILD_DIR/tools/OrvinAdapterSim/OrvinAdapterSim.exe"
BENCH="$BUILD_DIR/tests/bench/devicelink/bench_ioman.exe"
WORK=$(mktemp -d)
PREFIX=$("$RUN" --env | sed -n 's/^WINEPREFIX=\([^ ]*\) .*/\1/p')
mkdir -p "$PREFIX"
source tests/bench/bench-lib.sh

SERVER_BEFORE=$(prefix_server)
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do
        kill -9 "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$WORK"
    # A server that was running before stays; one started here goes.
    [ -n "$SERVER_BEFORE" ] || "$RUN" --stop
}
trap cleanup EXIT
"$RUN" --start

# run_case NAME SECONDS BENCH-ARGS...: the stand-in with $WORK/NAME.txt against bench_ioman.
run_case() {
    local name=$1 limit=$2
    shift 2
    "$RUN" "$SIM" --quiet "$(winpath "$WORK/$name.txt")" </dev/null >"$WORK/$name-sim.out" 2>"$WORK/$name-sim.err" &
    local sim=$!
    PIDS+=("$sim")
    "$RUN" "$BENCH" "$@" </dev/null >"$WORK/$name.out" 2>"$WORK/$name.err" &
    local bench=$!
    PIDS+=("$bench")
    local measured=""
    if [ "$name" = idle ]; then
        measured=$(measure_idle "$bench" "$sim")
    fi
    local bench_status sim_status
    wait_pid "$bench" "$limit"
    bench_status=$STATUS
    wait_pid "$sim" 30
    sim_status=$STATUS
    grep -v '^connected\|measuring' "$WORK/$name.out" | tr -d '\r' || true
    grep '^measure:' "$WORK/$name-sim.out" | tr -d '\r' || true
    [ -z "$measured" ] || echo "$measured"
    if [ "$bench_status" != 0 ] || [ "$sim_status" != 0 ]; then
        echo "  ($name: bench_ioman exited $bench_status, the stand-in $sim_status)"
        tr -d '\r' <"$WORK/$name.err"
        tr -d '\r' <"$WORK/$name-sim.err"
        FAILED=1
    fi
}

measure_idle() {
    local bench=$1 sim=$2 deadline=$((SECONDS + 60))
    until grep -q "measuring" "$WORK/idle.out" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] && kill -0 "$bench" 2>/dev/null || return 0
        sleep 0.1
    done
    local server hz before sim_before server_before
    server=$(prefix_server)
    hz=$(getconf CLK_TCK)
    before=$(cpu_ticks "$bench")
    sim_before=$(cpu_ticks "$sim")
    server_before=$(cpu_ticks "$server")
    sleep "$IDLE_SECONDS"
    local after sim_after server_after
    after=$(cpu_ticks "$bench")
    sim_after=$(cpu_ticks "$sim")
    server_after=$(cpu_ticks "$server")
    share() {
        awk -v t="$1" -v hz="$hz" -v s="$IDLE_SECONDS" -v what="$2" \
            'BEGIN { printf "idle: %.2f s CPU in %d s = %.2f%% of one core (%s)\n", t / hz, s, 100 * t / hz / s, what }'
    }
    share $((after - before)) "/proc of the agent-side wine process"
    awk -v t=$((after - before)) -v hz="$hz" -v s="$IDLE_SECONDS" \
        'BEGIN { printf "figure idle_cpu_percent_proc %.3f\n", 100 * t / hz / s }'
    share $((sim_after - sim_before)) "the stand-in, for comparison"
    if [ -n "$server" ]; then
        share $((server_after - server_before)) "the wine server, which serves both"
    fi
}

FAILED=0
CLOSING='expect AGENT_EVENT NotifyAgentStatus info=3 timeout=120000'

printf 'wait-agent timeout=30000\nsleep 500\nburst %d HW_EVENT NOTIFY_DTMF_KEY interval=37\n%s\n' \
    "$LATENCY_EVENTS" "$CLOSING" >"$WORK/latency.txt"
printf 'wait-agent timeout=30000\nsleep 500\nburst %d HW_EVENT NOTIFY_DTMF_KEY\n%s\n' \
    "$BURST_EVENTS" "$CLOSING" >"$WORK/burst.txt"
printf 'wait-agent timeout=30000\n%s\n' "$CLOSING" >"$WORK/idle.txt"
printf 'wait-agent timeout=30000\nmeasure %d PT_EVENT PT_SEND_GET_RING_STATE timeout=%d\n%s\n' \
    "$LATENCY_EVENTS" $((LATENCY_EVENTS * 37 + 30000)) "$CLOSING" >"$WORK/reverse.txt"

echo "Device link, OrvinAdapterSim.exe -> CIoManager owner callback, under Wine ($(nproc) cores)"
run_case latency $((LATENCY_EVENTS / 20 + 60)) latency "$LATENCY_EVENTS"
run_case reverse $((LATENCY_EVENTS / 20 + 60)) reverse "$LATENCY_EVENTS"
# The stand-in's measure line as figures.
sed -n 's/^measure: count=[0-9]* median_ms=\([0-9.]*\) p99_ms=\([0-9.]*\) .*in_order=\([01]\).*/figure request_latency_median_ms \1\nfigure request_latency_p99_ms \2\nfigure request_latency_in_order \3/p' \
    "$WORK/reverse-sim.out" | tr -d '\r'
grep -q '^measure: .*in_order=1' "$WORK/reverse-sim.out" || { echo "  (reverse: no complete measure from the stand-in)"; FAILED=1; }
run_case burst 180 burst "$BURST_EVENTS"
run_case idle $((IDLE_SECONDS + 60)) idle "$IDLE_SECONDS"
exit $FAILED
