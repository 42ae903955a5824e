#!/usr/bin/env bash
# OrvinAgent.exe against the adapter stand-in, under Wine, with the answering-machine client:
#   start     the agent's start to AgentConnectedToVoip (NotifyAgentStatus 1) at the service
#   shutdown  OrvinAppCtl's shutdown command (application ID 2) to the agent's exit; the
#             figure includes OrvinAppCtl's own start under Wine and the agent's 200 ms pause
#   idle      a connected, idle agent: CPU over IDLE-SECONDS (/proc), and its private memory
#             (Private_Clean + Private_Dirty of its process)
#   tests/bench/agent_bench.sh [RUNS [IDLE-SECONDS]]      defaults 5 and 30
# Medians over RUNS starts (the wine server stays warm between them). Besides the sentences,
# each figure is printed as `figure NAME VALUE`. Exit status 1 when a run failed.
set -euo pipefail
cd "$(dirname "$0")/../.."

RUNS=${1:-5}
IDLE_SECONDS=${2:-30}
BUILD_DIR="${BUILD_DIR:-build}"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" -j 2 --target OrvinAdapterSim OrvinAgent OrvinAppCtl >/dev/null

RUN="$BUILD_DIR/wine-run"
SIM="$BUILD_DIR/tools/OrvinAdapterSim/OrvinAdapterSim.exe"
AGENT="$BUILD_DIR/src/agent/OrvinAgent.exe"
APPCTL="$BUILD_DIR/tools/OrvinAppCtl/OrvinAppCtl.exe"
WORK=$(mktemp -d)
PREFIX=$("$RUN" --env | sed -n 's/^WINEPREFIX=\([^ ]*\) .*/\1/p')
mkdir -p "$PREFIX"
source tests/bench/bench-lib.sh
ROOT='SOFTWARE\OrvinBench\Adapter'
TRACE_KEY='HKLM\Software\Velcora\Quendo'

SERVER_BEFORE=$(prefix_server)
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do
        kill -9 "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    "$RUN" reg delete "HKLM\\$ROOT" /f </dev/null >/dev/null 2>&1 || true
    "$RUN" reg delete "$TRACE_KEY" /v DebugType /f </dev/null >/dev/null 2>&1 || true
    rm -rf "$WORK"
    [ -n "$SERVER_BEFORE" ] || "$RUN" --stop
}
trap cleanup EXIT
"$RUN" --start
reg() { "$RUN" reg add "$@" /f </dev/null >/dev/null 2>&1; }
reg "HKLM\\$ROOT\\Config\\General" /v SoftPhoneType /t REG_BINARY /d 00c00000b8000000
reg "HKLM\\$ROOT\\Config\\UI" /v Enable /t REG_DWORD /d 1
reg "$TRACE_KEY" /v DebugType /t REG_DWORD /d 0 # no trace: its cost is not the agent's

now_ms() { date +%s%3N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# until_text FILE TEXT SECONDS: polls every 5 ms; false when it did not come in time.
until_text() {
    local deadline=$(($(now_ms) + $3 * 1000))
    until grep -qF -- "$2" "$1" 2>/dev/null; do
        [ "$(now_ms)" -lt $deadline ] || return 1
        sleep 0.005
    done
}

FAILED=0
printf 'wait-agent timeout=30000\nexpect AGENT_EVENT NotifyAgentStatus info=1\nexpect AGENT_EVENT NotifyAgentStatus info=3 timeout=%d\n' \
    $(((IDLE_SECONDS + 60) * 1000)) >"$WORK/script.txt"
: >"$WORK/start.txt"
: >"$WORK/shutdown.txt"
echo "OrvinAgent.exe with the answering-machine client against OrvinAdapterSim.exe, under Wine ($(nproc) cores)"
for run in $(seq 1 "$RUNS"); do
    rm -f "$WORK/sim.log"
    "$RUN" "$SIM" --quiet --key0 "$ROOT" --log "$(winpath "$WORK/sim.log")" "$(winpath "$WORK/script.txt")" \
        </dev/null >/dev/null 2>"$WORK/sim.err" &
    sim=$!
    PIDS+=("$sim")
    until_text "$WORK/sim.log" "] serving " 30 || { echo "  run $run: the stand-in did not start"; FAILED=1; break; }
    t0=$(now_ms)
    "$RUN" "$AGENT" </dev/null >/dev/null 2>&1 &
    agent=$!
    PIDS+=("$agent")
    if ! until_text "$WORK/sim.log" "NotifyAgentStatus info=1" 30; then
        echo "  run $run: no AgentConnectedToVoip within 30 s"
        FAILED=1
        break
    fi
    echo $(($(now_ms) - t0)) >>"$WORK/start.txt"
    if [ "$run" = 1 ]; then
        sleep 2 # past the start's own work
        hz=$(getconf CLK_TCK)
        before=$(cpu_ticks "$agent")
        sleep "$IDLE_SECONDS"
        after=$(cpu_ticks "$agent")
        idle=$(awk -v t=$((after - before)) -v hz="$hz" -v s="$IDLE_SECONDS" 'BEGIN { printf "%.2f", 100 * t / hz / s }')
        private=$(awk '/^Private_(Clean|Dirty):/ { kb += $2 } END { printf "%.1f", kb / 1024 }' "/proc/$agent/smaps_rollup")
    fi
    t2=$(now_ms)
    "$RUN" "$APPCTL" shutdown 2 </dev/null >/dev/null 2>&1 &
    PIDS+=("$!")
    while kill -0 "$agent" 2>/dev/null && [ $(($(now_ms) - t2)) -lt 30000 ]; do
        sleep 0.005
    done
    if kill -0 "$agent" 2>/dev/null; then
        echo "  run $run: the agent did not end within 30 s of the shutdown command"
        FAILED=1
        break
    fi
    echo $(($(now_ms) - t2)) >>"$WORK/shutdown.txt"
    wait_pid "$sim" 30
    [ "$STATUS" = 0 ] || { echo "  run $run: the stand-in's script failed ($STATUS)"; cat "$WORK/sim.err"; FAILED=1; }
done
if [ -s "$WORK/start.txt" ]; then
    echo "start: $(paste -sd' ' "$WORK/start.txt") ms; median $(median <"$WORK/start.txt") ms"
    echo "figure agent_start_to_connected_ms $(median <"$WORK/start.txt")"
fi
if [ -s "$WORK/shutdown.txt" ]; then
    echo "shutdown: $(paste -sd' ' "$WORK/shutdown.txt") ms; median $(median <"$WORK/shutdown.txt") ms"
    echo "figure agent_shutdown_to_exit_ms $(median <"$WORK/shutdown.txt")"
fi
if [ -n "${idle:-}" ]; then
    echo "idle: ${idle}% of one core over ${IDLE_SECONDS} s; private memory ${private} MB"
    echo "figure agent_idle_cpu_percent $idle"
    echo "figure agent_private_memory_mb $private"
fi
exit $FAILED
