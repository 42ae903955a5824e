#!/usr/bin/env bash
# OrvinAgent.exe with the TelTel client between the adapter stand-in (OrvinAdapterSim.exe)
# and the TelTel stand-in (TelTelAPI.DLL beside the agent, TelTelSim.exe its control
# program), under Wine: one trip each way, ROUNDS times, and the floor in the same run.
#   ringing  the library's ring-start callback (run on the library's own reader thread) to
#            CALL_STATUS_RINGING at the service: the callback hands the ring to the agent's
#            GUI thread, which reports it; then TelTel's ring stops and the call ends
#   answer   the service's CALL_EVENT CALL_STATUS_INPROGRESS, sent while a TelTel call
#            rings, to the agent's TelTel_AnswerOrCall; then the ring stops, the call ends
#   floor    the service's lone '*' key to NotifyAgentStatus 4 back at the service: a round
#            trip through the same pipe, bus and GUI thread of the agent with no softphone
#            in it (both ways: about twice what one way costs)
#   tests/bench/teltel_bench.sh [ROUNDS]      default 100
# Each is timed from one stand-in's log to the other's (or within the adapter stand-in's):
# both stamp their lines with the performance counter (--log-qpc), one clock for every
# process under Wine; the library stamps a callback as it begins and a call as the agent
# makes it, the adapter stand-in a message as its write starts and as its bytes come off the
# pipe. Medians and p99 (nearest rank) in milliseconds; besides the sentences each figure is
# printed as `figure NAME VALUE`. Exit status 1 when the work went wrong (a stand-in's script
# failed, a trip is missing). BUILD_DIR chooses the build folder (default: build); it runs
# alone in that build's prefix. KEEP_LOGS=DIR keeps the logs and scripts there.
set -euo pipefail
cd "$(dirname "$0")/../.."

ROUNDS=${1:-100}
BUILD_DIR="${BUILD_DIR:-build}"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" -j 2 --target OrvinAdapterSim TelTelSim TelTelAPI OrvinAgent OrvinAppCtl >/dev/null

RUN="$BUILD_DIR/wine-run"
SIM="$BUILD_DIR/tools/OrvinAdapterSim/OrvinAdapterSim.exe"
TELTELSIM="$BUILD_DIR/tools/TelTelSim/TelTelSim.exe"
APPCTL="$BUILD_DIR/tools/OrvinAppCtl/OrvinAppCtl.exe"
WORK=$(mktemp -d)
PREFIX=$("$RUN" --env | sed -n 's/^WINEPREFIX=\([^ ]*\) .*/\1/p')
mkdir -p "$PREFIX"
source tests/bench/bench-lib.sh
ROOT='SOFTWARE\OrvinBench\Adapter'
TRACE_KEY='HKLM\Software\Velcora\Quendo'
INSTALLED="$PREFIX/drive_c/OrvinBench/teltel"
export ORVIN_TELTELSIM_PIPE="OrvinTelTelBench-$$"

SERVER_BEFORE=$(prefix_server)
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do
        kill -9 "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    if [ -n "${KEEP_LOGS:-}" ]; then
        mkdir -p "$KEEP_LOGS" && cp "$WORK"/*.log "$WORK"/*.txt "$KEEP_LOGS"/ 2>/dev/null || true
    fi
    "$RUN" reg delete "HKLM\\$ROOT" /f </dev/null >/dev/null 2>&1 || true
    "$RUN" reg delete "$TRACE_KEY" /v DebugType /f </dev/null >/dev/null 2>&1 || true
    rm -rf "$WORK" "$INSTALLED"
    rmdir "$(dirname "$INSTALLED")" 2>/dev/null || true
    [ -n "$SERVER_BEFORE" ] || "$RUN" --stop
}
trap cleanup EXIT
"$RUN" --start
reg() { "$RUN" reg add "$@" /f </dev/null >/dev/null 2>&1; }
reg "HKLM\\$ROOT" /v ApplicationName /d OrvinAgent
reg "HKLM\\$ROOT\\Config\\General" /v SoftPhoneType /t REG_BINARY /d 000c000050000000 # TelTel
reg "HKLM\\$ROOT\\Config\\UI" /v Enable /t REG_DWORD /d 1
reg "$TRACE_KEY" /v DebugType /t REG_DWORD /d 0 # no trace: its cost is not the agent's
rm -rf "$INSTALLED"
mkdir -p "$INSTALLED"
cp "$BUILD_DIR/src/agent/OrvinAgent.exe" "$BUILD_DIR/tools/TelTelSim/TelTelAPI.DLL" "$INSTALLED/"

# The adapter stand-in's part: the floor's round trips, then TelTel's rounds.
{
    echo 'wait-agent timeout=60000'
    echo 'expect AGENT_EVENT NotifyAgentStatus info=1 timeout=60000'
    echo 'send HW_EVENT NOTIFY_HOOK_STATE info=0'
    for i in $(seq 1 "$ROUNDS"); do
        echo "send HW_EVENT NOTIFY_DTMF_KEY info='*'"
        echo 'expect AGENT_EVENT NotifyAgentStatus info=4 timeout=10000'
        echo 'sleep 20'
    done
    # The handset down, up (TelTel is brought to the top again: the floor is through) and down.
    echo 'send HW_EVENT NOTIFY_HOOK_STATE info=1'
    echo 'send HW_EVENT NOTIFY_HOOK_STATE info=0'
    echo 'send HW_EVENT NOTIFY_HOOK_STATE info=1'
    for i in $(seq 1 "$ROUNDS"); do
        echo 'expect CALL_EVENT CALL_STATUS_RINGING info=1 timeout=10000'
        echo 'expect CALL_EVENT CALL_STATUS_INPROGRESS info=1 timeout=10000'
        echo 'expect CALL_EVENT CALL_STATUS_FINISHED info=1 timeout=10000'
    done
    for i in $(seq 1 "$ROUNDS"); do
        echo 'expect CALL_EVENT CALL_STATUS_RINGING info=1 timeout=10000'
        echo 'sleep 30' # the agent done with the ring: the service answers later
        echo 'send CALL_EVENT CALL_STATUS_INPROGRESS info=1'
        echo 'expect CALL_EVENT CALL_STATUS_INPROGRESS info=1 timeout=10000'
        echo 'expect CALL_EVENT CALL_STATUS_FINISHED info=1 timeout=10000'
    done
    echo 'expect AGENT_EVENT NotifyAgentStatus info=3 timeout=120000' # the agent closing
} >"$WORK/service.txt"

# TelTel's part: ready, quiet while the floor is measured (from the handset's first lift to
# its second), then the rings.
{
    echo 'wait-library timeout=60000'
    echo 'ready'
    echo 'expect TelTel_IsTelTelReady result=1 timeout=10000'
    echo 'expect TelTel_BringToTop timeout=60000'
    echo "expect TelTel_BringToTop timeout=$((ROUNDS * 1000 + 10000))"
    echo 'sleep 500'
    for i in $(seq 1 "$ROUNDS"); do
        echo "ring-start value=$((1000 + i))"
        echo 'sleep 40' # the ring reaches the service
        echo "ring-stop value=$((1000 + i))"
        echo "call-end value=$((1000 + i))"
        echo 'sleep 40'
    done
    for i in $(seq 1 "$ROUNDS"); do
        echo "ring-start value=$((5000 + i))"
        echo 'expect TelTel_AnswerOrCall timeout=10000'
        echo 'sleep 10'
        echo "ring-stop value=$((5000 + i))"
        echo "call-end value=$((5000 + i))"
        echo 'sleep 40'
    done
} >"$WORK/teltel.txt"

FAILED=0
echo "OrvinAgent.exe with the TelTel client between OrvinAdapterSim.exe and the TelTel stand-in, under Wine ($(nproc) cores), $ROUNDS rounds each way"
"$RUN" "$SIM" --quiet --log-qpc --key0 "$ROOT" --log "$(winpath "$WORK/service.log")" "$(winpath "$WORK/service.txt")" \
    </dev/null >/dev/null 2>"$WORK/service.err" &
sim=$!
PIDS+=("$sim")
deadline=$((SECONDS + 60))
until grep -qF "] serving " "$WORK/service.log" 2>/dev/null; do
    if ! kill -0 "$sim" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
        echo "the adapter stand-in did not start (another service in this prefix? wait and retry, or use BUILD_DIR):"
        tr -d '\r' <"$WORK/service.err"
        exit 1
    fi
    sleep 0.1
done
"$RUN" "$TELTELSIM" --quiet --log-qpc --pipe "$ORVIN_TELTELSIM_PIPE" --log "$(winpath "$WORK/teltel.log")" \
    "$(winpath "$WORK/teltel.txt")" </dev/null >/dev/null 2>"$WORK/teltel.err" &
teltel=$!
PIDS+=("$teltel")
"$RUN" 'C:\OrvinBench\teltel\OrvinAgent.exe' </dev/null >/dev/null 2>&1 &
agent=$!
PIDS+=("$agent")

limit=$((ROUNDS * 3 / 5 + 120)) # seconds: about 0.3 s a round of each kind, and the start
wait_pid "$teltel" "$limit"
teltel_status=$STATUS
"$RUN" "$APPCTL" shutdown 2 </dev/null >/dev/null 2>&1 || true
wait_pid "$agent" 30
agent_status=$STATUS
wait_pid "$sim" 30
sim_status=$STATUS
if [ "$teltel_status" != 0 ] || [ "$sim_status" != 0 ] || [ "$agent_status" != 0 ]; then
    echo "  (TelTelSim exited $teltel_status, the adapter stand-in $sim_status, the agent $agent_status)"
    tr -d '\r' <"$WORK/teltel.err"
    tr -d '\r' <"$WORK/service.err"
    FAILED=1
fi

# The pairs, from both logs: `[SECONDS @COUNT] TX|RX ...`; the counter's frequency is in
# each log's first line. The k-th ring at TelTel goes with the k-th ringing at the service,
# the k-th answer sent with the k-th TelTel_AnswerOrCall, the k-th '*' with the k-th status 4.
tr -d '\r' <"$WORK/teltel.log" >"$WORK/teltel.lines"
tr -d '\r' <"$WORK/service.log" >"$WORK/service.lines"
awk -v rounds="$ROUNDS" -v out="$WORK" '
    function count(line) { sub(/^\[ *[0-9.]+ @/, "", line); sub(/\].*/, "", line); return line }
    FNR == 1 { file = FILENAME ~ /teltel/ ? "teltel" : "service" }
    /performance counter frequency/ { frequency[file] = $NF; next }
    file == "teltel" && / TX ring-start\(/ { ringFrom[++rings] = count($0) }
    file == "teltel" && / RX TelTel_AnswerOrCall\(\)/ { answerTo[++answers] = count($0) }
    file == "service" && / RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_RINGING info=1/ { ringTo[++ringings] = count($0) }
    file == "service" && / TX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_INPROGRESS info=1/ { answerFrom[++sent] = count($0) }
    file == "service" && / TX IMM MSG_TYPE_HW_EVENT NOTIFY_DTMF_KEY / { starFrom[++stars] = count($0) }
    file == "service" && / RX IMM MSG_TYPE_AGENT_EVENT NotifyAgentStatus info=4 / { starTo[++lone] = count($0) }
    END {
        if (frequency["teltel"] == "" || frequency["teltel"] != frequency["service"]) {
            print "  (the logs do not agree on the counter frequency)"; exit 1
        }
        f = frequency["teltel"] / 1000
        bad = 0
        if (rings != 2 * rounds || ringings != 2 * rounds) { printf "  (%d rings at TelTel, %d at the service; %d expected)\n", rings, ringings, 2 * rounds; bad = 1 }
        if (answers != rounds || sent != rounds) { printf "  (%d answers sent, %d reached TelTel; %d expected)\n", sent, answers, rounds; bad = 1 }
        if (stars != rounds || lone != rounds) { printf "  (%d stars sent, %d lone-star statuses back; %d expected)\n", stars, lone, rounds; bad = 1 }
        for (i = 1; i <= rounds; i++) {
            if (i in ringFrom && i in ringTo) print (ringTo[i] - ringFrom[i]) / f > (out "/ringing.ms")
            if (i in answerFrom && i in answerTo) print (answerTo[i] - answerFrom[i]) / f > (out "/answer.ms")
            if (i in starFrom && i in starTo) print (starTo[i] - starFrom[i]) / f > (out "/floor.ms")
        }
        exit bad
    }' "$WORK/teltel.lines" "$WORK/service.lines" || FAILED=1

# report NAME FILE TEXT
report() {
    local name=$1 file=$2 text=$3
    [ -s "$file" ] || return 0
    sort -g "$file" | awk -v name="$name" -v text="$text" '
        { v[NR] = $1 }
        END {
            median = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
            rank = int((99 * NR + 99) / 100); p99 = v[rank]
            printf "%s: %d trips, median %.2f ms, p99 %.2f ms, min %.2f ms, max %.2f ms\n", text, NR, median, p99, v[1], v[NR]
            printf "figure %s_median_ms %.2f\nfigure %s_p99_ms %.2f\n", name, median, name, p99
        }'
}
report teltel_ringing_to_service "$WORK/ringing.ms" "ringing: TelTel's ring-start callback -> CALL_STATUS_RINGING at the service"
report service_answer_to_teltel "$WORK/answer.ms" "answer: the service's CALL_STATUS_INPROGRESS -> TelTel_AnswerOrCall in the library"
report teltel_floor_round_trip "$WORK/floor.ms" "floor: the service's lone '*' -> NotifyAgentStatus 4 back at the service (round trip)"
exit $FAILED
