#!/usr/bin/env bash
# OrvinAgent.exe with the ThinkIt client between the adapter stand-in (OrvinAdapterSim.exe)
# and the ThinkIt stand-in (ThinkItSim.exe), under Wine: one trip each way, ROUNDS times,
# and the floors in the same run.
#   ringing  ThinkIt's `CALL n STATUS RINGING` to CALL_STATUS_RINGING at the service (ThinkIt
#            rings the telephone at once); and, as a second figure, to the second
#            CALL_STATUS_RINGING that carries the caller's speed dial (12) and handle: ThinkIt
#            tells the call's type, the agent asks the partner handle and the contact's speed
#            dial, and the stand-in's standing answers are part of it; then the call ends
#   answer   the service's CALL_EVENT CALL_STATUS_INPROGRESS info=n, sent while call n rings,
#            to `SET CALL n Status inprogress` at ThinkIt; ThinkIt then reports the call in
#            progress and finished, and the next rings
#   floors   the service's '4' and send key on the PSTN line to ERROR_UNKNOWN_USER back at the
#            service (4 is nobody's speed dial): a round trip through the same pipe, bus and
#            GUI thread with no softphone in it; and ThinkIt's `PROTOCOL 5` to the agent's
#            `get currentuserhandle` back at ThinkIt: a round trip through the window
#            messages with no service in it (each both ways: about twice what one way costs)
#   tests/bench/thinkit_bench.sh [ROUNDS]      default 100
# Each is timed from one stand-in's log to the other's (or within one): both stamp their
# lines with the performance counter (--log-qpc), one clock for every process under Wine; a
# notification is stamped as ThinkIt's SendMessage starts, a pipe message as the write
# starts and as its bytes come off the pipe, a command as ThinkIt's window takes it. Medians
# and p99 (nearest rank) in milliseconds; besides the sentences each figure is printed as
# `figure NAME VALUE`. Exit status 1 when the work went wrong (a stand-in's script failed, a
# trip is missing or out of order). BUILD_DIR chooses the build folder (default: build); it
# runs alone in that build's prefix. KEEP_LOGS=DIR keeps both stand-ins' logs and scripts there.
set -euo pipefail
cd "$(dirname "$0")/../.."

ROUNDS=${1:-100}
BUILD_DIR="${BUILD_DIR:-build}"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" -j 2 --target OrvinAdapterSim ThinkItSim OrvinAgent OrvinAppCtl >/dev/null

RUN="$BUILD_DIR/wine-run"
SIM="$BUILD_DIR/tools/OrvinAdapterSim/OrvinAdapterSim.exe"
THINKITSIM="$BUILD_DIR/tools/ThinkItSim/ThinkItSim.exe"
AGENT="$BUILD_DIR/src/agent/OrvinAgent.exe"
APPCTL="$BUILD_DIR/tools/OrvinAppCtl/OrvinAppCtl.exe"
WORK=$(mktemp -d)
PREFIX=$("$RUN" --env | sed -n 's/^WINEPREFIX=\([^ ]*\) .*/\1/p')
mkdir -p "$PREFIX"
source tests/bench/bench-lib.sh
ROOT='SOFTWARE\OrvinBench\Adapter'
TRACE_KEY='HKLM\Software\Velcora\Quendo'
RING_BASE=1000 # call ids of the ringing rounds: 1001 ..; of the answer rounds: 5001 ..
ANSWER_BASE=5000

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
    rm -rf "$WORK"
    [ -n "$SERVER_BEFORE" ] || "$RUN" --stop
}
trap cleanup EXIT
"$RUN" --start
reg() { "$RUN" reg add "$@" /f </dev/null >/dev/null 2>&1; }
reg "HKLM\\$ROOT" /v ApplicationName /d OrvinAgent
reg "HKLM\\$ROOT\\Config\\General" /v SoftPhoneType /t REG_BINARY /d 0000005c93000000 # ThinkIt
reg "HKLM\\$ROOT\\Config\\UI" /v Enable /t REG_DWORD /d 1
reg "$TRACE_KEY" /v DebugType /t REG_DWORD /d 0 # no trace: its cost is not the agent's

# The floors one after the other, each alone. The adapter stand-in's part: the agent
# connects to ThinkIt; ThinkIt's floor runs, and its friend's status tells the service it is
# through; the service's floor on the PSTN line (the agent's line at its start); the adapter
# attaches (the agent connects anew: ThinkIt's sign that the floor is through); each ringing
# round is seen through to its end; in each answer round the service answers the call.
{
    echo 'wait-agent timeout=60000'
    echo 'expect AGENT_EVENT NotifyAgentStatus info=1 timeout=60000'
    echo 'expect AGENT_EVENT NotifyAgentStatus info=1 timeout=120000' # the friend: ThinkIt's floor is through
    for i in $(seq 1 "$ROUNDS"); do
        echo "send HW_EVENT NOTIFY_DTMF_KEY info='4'"
        echo "send HW_EVENT NOTIFY_DTMF_KEY info='*'"
        echo 'expect ERROR ERROR_UNKNOWN_USER info=0 timeout=10000'
        echo 'sleep 20'
    done
    echo 'send HW_EVENT NOTIFY_OPEN_DEVICE'
    for i in $(seq 1 "$ROUNDS"); do
        n=$((RING_BASE + i))
        echo "expect CALL_EVENT CALL_STATUS_RINGING info=$n timeout=10000"
        echo "expect CALL_EVENT CALL_STATUS_RINGING info=$n buf1=12 buf2=alice timeout=10000"
        echo "expect CALL_EVENT CALL_STATUS_FINISHED info=$n timeout=10000"
    done
    for i in $(seq 1 "$ROUNDS"); do
        n=$((ANSWER_BASE + i))
        echo "expect CALL_EVENT CALL_STATUS_RINGING info=$n timeout=10000"
        echo 'sleep 30' # the agent done with the ring: the handset is lifted later
        echo "send CALL_EVENT CALL_STATUS_INPROGRESS info=$n"
        echo "expect CALL_EVENT CALL_STATUS_INPROGRESS info=$n timeout=10000"
        echo "expect CALL_EVENT CALL_STATUS_FINISHED info=$n timeout=10000"
    done
    echo 'expect AGENT_EVENT NotifyAgentStatus info=2 timeout=120000' # the agent closing
} >"$WORK/service.txt"

# ThinkIt's part: its own floor, its friend, quiet through the service's floor, the calls.
{
    cat <<'SCRIPT'
answer get user alice speeddial => USER alice SPEEDDIAL 12
answer get user * onlinestatus => USER $1 ONLINESTATUS ONLINE
answer get user * speeddial => USER $1 SPEEDDIAL
answer get call * partner_handle => CALL $1 PARTNER_HANDLE alice
attach success timeout=60000
expect-command protocol 5 timeout=30000
SCRIPT
    for i in $(seq 1 "$ROUNDS"); do
        echo 'notify PROTOCOL 5'
        echo 'expect-command get currentuserhandle timeout=10000'
        echo 'sleep 20'
    done
    echo 'notify USERS alice'
    echo 'expect-command get user alice speeddial timeout=10000'
    echo 'expect-command protocol 5 timeout=120000' # the service's floor is through
    echo 'sleep 1000'
    for i in $(seq 1 "$ROUNDS"); do
        n=$((RING_BASE + i))
        echo "notify CALL $n STATUS RINGING"
        echo "notify CALL $n TYPE INCOMING_P2P"
        echo "expect-command get user alice speeddial timeout=10000"
        echo 'sleep 40' # the ring reaches the service
        echo "notify CALL $n STATUS FINISHED"
        echo 'sleep 40'
    done
    for i in $(seq 1 "$ROUNDS"); do
        n=$((ANSWER_BASE + i))
        echo "notify CALL $n STATUS RINGING"
        echo "expect-command \"SET CALL $n Status inprogress\" timeout=10000"
        echo 'sleep 10'
        echo "notify CALL $n STATUS INPROGRESS"
        echo 'sleep 20'
        echo "notify CALL $n STATUS FINISHED"
        echo 'sleep 40'
    done
} >"$WORK/thinkit.txt"

FAILED=0
echo "OrvinAgent.exe with the ThinkIt client between OrvinAdapterSim.exe and ThinkItSim.exe, under Wine ($(nproc) cores), $ROUNDS rounds each"
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
"$RUN" "$THINKITSIM" --quiet --log-qpc --log "$(winpath "$WORK/thinkit.log")" "$(winpath "$WORK/thinkit.txt")" \
    </dev/null >/dev/null 2>"$WORK/thinkit.err" &
thinkit=$!
PIDS+=("$thinkit")
"$RUN" "$AGENT" </dev/null >/dev/null 2>&1 &
agent=$!
PIDS+=("$agent")

limit=$((ROUNDS * 3 / 5 + 120)) # seconds: about 0.3 s a round, and the start
wait_pid "$thinkit" "$limit"
thinkit_status=$STATUS
"$RUN" "$APPCTL" shutdown 2 </dev/null >/dev/null 2>&1 || true
wait_pid "$agent" 30
agent_status=$STATUS
wait_pid "$sim" 30
sim_status=$STATUS
if [ "$thinkit_status" != 0 ] || [ "$sim_status" != 0 ] || [ "$agent_status" != 0 ]; then
    echo "  (ThinkItSim exited $thinkit_status, the adapter stand-in $sim_status, the agent $agent_status)"
    tr -d '\r' <"$WORK/thinkit.err"
    tr -d '\r' <"$WORK/service.err"
    [ "$thinkit_status" != 3 ] && [ "$sim_status" != 3 ] ||
        echo "  (another ThinkIt stand-in or service runs in this prefix: wait and retry, or use BUILD_DIR)"
    FAILED=1
fi

# The pairs, from both logs: `[SECONDS @COUNT] TX|RX ...`; the counter's frequency is in
# each log's first line.
tr -d '\r' <"$WORK/thinkit.log" >"$WORK/thinkit.lines"
tr -d '\r' <"$WORK/service.log" >"$WORK/service.lines"
awk -v rounds="$ROUNDS" -v ring="$RING_BASE" -v answer="$ANSWER_BASE" -v out="$WORK" '
    function count(line) { sub(/^\[ *[0-9.]+ @/, "", line); sub(/\].*/, "", line); return line }
    function info(line) { sub(/.* info=/, "", line); sub(/ .*/, "", line); return line + 0 }
    FNR == 1 { file = FILENAME ~ /thinkit/ ? "thinkit" : "service" }
    /performance counter frequency/ { frequency[file] = $NF; next }
    file == "thinkit" && / TX PROTOCOL 5$/ { protoFrom[++protos] = count($0) }
    file == "thinkit" && / RX get currentuserhandle$/ { protoTo[++handles] = count($0) }
    file == "service" && / TX IMM MSG_TYPE_HW_EVENT NOTIFY_DTMF_KEY info=42 / { starFrom[++stars] = count($0) }
    file == "service" && / RX IMM MSG_TYPE_ERROR ERROR_UNKNOWN_USER / { starTo[++errors] = count($0) }
    file == "thinkit" && / TX CALL [0-9]+ STATUS RINGING$/ {
        n = $(NF - 2); if (n > ring && n <= ring + rounds && !(n in ringFrom)) ringFrom[n] = count($0)
    }
    file == "service" && / RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_RINGING info=/ {
        n = info($0)
        if (n > ring && n <= ring + rounds) {
            if (!(n in ringTo)) { ringTo[n] = count($0); ringOrder[++ringSeen] = n }
            else if (/ buf1=12 / && !(n in callerTo)) callerTo[n] = count($0)
        }
    }
    file == "service" && / TX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_INPROGRESS info=/ {
        n = info($0); if (n > answer && n <= answer + rounds && !(n in answerFrom)) answerFrom[n] = count($0)
    }
    file == "thinkit" && / RX SET CALL [0-9]+ Status inprogress$/ {
        n = $(NF - 2); if (n > answer && n <= answer + rounds && !(n in answerTo)) { answerTo[n] = count($0); answerOrder[++answerSeen] = n }
    }
    END {
        bad = 0
        if (frequency["thinkit"] == "" || frequency["thinkit"] != frequency["service"]) {
            print "  (the logs do not agree on the counter frequency)"; exit 1
        }
        f = frequency["thinkit"] / 1000
        if (protos != rounds || handles != rounds) { printf "  (%d PROTOCOL 5 sent, %d get currentuserhandle back; %d expected)\n", protos, handles, rounds; bad = 1 }
        if (stars != rounds || errors != rounds) { printf "  (%d send keys, %d ERROR_UNKNOWN_USER back; %d expected)\n", stars, errors, rounds; bad = 1 }
        for (i = 1; i <= rounds; i++) {
            if (i in protoFrom && i in protoTo) print (protoTo[i] - protoFrom[i]) / f > (out "/floor-thinkit.ms")
            if (i in starFrom && i in starTo) print (starTo[i] - starFrom[i]) / f > (out "/floor-service.ms")
            n = ring + i
            if ((n in ringFrom) && (n in ringTo)) print (ringTo[n] - ringFrom[n]) / f > (out "/ringing.ms")
            else { printf "  (ringing round %d, call %d: %s)\n", i, n, (n in ringFrom) ? "no ringing at the service" : "not notified"; bad = 1 }
            if ((n in ringFrom) && (n in callerTo)) print (callerTo[n] - ringFrom[n]) / f > (out "/ringing-caller.ms")
            else { printf "  (ringing round %d, call %d: no ringing with the caller)\n", i, n; bad = 1 }
            if (ringOrder[i] != n) { printf "  (ringing at the service out of order: call %s came %dth)\n", ringOrder[i], i; bad = 1 }
            n = answer + i
            if ((n in answerFrom) && (n in answerTo)) print (answerTo[n] - answerFrom[n]) / f > (out "/answer.ms")
            else { printf "  (answer round %d, call %d: %s)\n", i, n, (n in answerFrom) ? "no answer command at ThinkIt" : "not sent"; bad = 1 }
            if (answerOrder[i] != n) { printf "  (answer commands out of order: call %s came %dth)\n", answerOrder[i], i; bad = 1 }
        }
        exit bad
    }' "$WORK/thinkit.lines" "$WORK/service.lines" || FAILED=1

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
report thinkit_ringing_to_service "$WORK/ringing.ms" "ringing: ThinkIt's CALL n STATUS RINGING -> CALL_STATUS_RINGING at the service"
report thinkit_ringing_with_caller "$WORK/ringing-caller.ms" "  the same to the second CALL_STATUS_RINGING, with the caller's number and name"
report service_answer_to_thinkit "$WORK/answer.ms" "answer: the service's CALL_STATUS_INPROGRESS -> SET CALL n Status inprogress at ThinkIt"
report thinkit_floor_service_round_trip "$WORK/floor-service.ms" "floor: the service's send key -> ERROR_UNKNOWN_USER back at the service (round trip)"
report thinkit_floor_softphone_round_trip "$WORK/floor-thinkit.ms" "floor: ThinkIt's PROTOCOL 5 -> get currentuserhandle back at ThinkIt (round trip)"
exit $FAILED
