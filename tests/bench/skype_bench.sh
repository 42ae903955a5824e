#!/usr/bin/env bash
# OrvinAgent.exe with the Skype client between the adapter stand-in (OrvinAdapterSim.exe)
# and the Skype stand-in (SkypeSim.exe), under Wine: one round trip each way, ROUNDS times.
#   ringing  Skype's `CALL n STATUS RINGING` to CALL_STATUS_RINGING (buf1 12) at the service:
#            the agent's follow-up queries (call type, partner handle, the contact's speed
#            dial) and Skype's standing answers to them are part of it; then Skype ends
#            the call and the next rings with a new n
#   answer   the service's CALL_EVENT CALL_STATUS_INPROGRESS info=n, sent while call n
#            rings, to `SET CALL n Status inprogress` at Skype; Skype then reports the call
#            in progress
#   keys     during that call, the service's HW_EVENT NOTIFY_DTMF_KEY (a handset key) to
#            `BTN_PRESSED k` at Skype; then Skype ends the call, and the next rings
#   floor    a two-process WM_COPYDATA round trip under the same Wine, nothing else
#            (tests/bench/floor: a command by SendMessage, the peer posts itself a note
#            and sends its notification back by SendMessage), 2000 rounds, measured in
#            the same run just before the agent's figures: each figure is also printed
#            as a multiple of it, so a loaded machine shows as a slow floor
#   tests/bench/skype_bench.sh [ROUNDS]      default 100
# Each is timed from one stand-in's log to the other's: both stamp their lines with the
# performance counter (--log-qpc), which is one clock for every process under Wine; a
# notification is stamped as Skype's SendMessage starts, a pipe message as the write
# starts and as its bytes come off the pipe, a command as Skype's window takes it.
# The service lifts the handset 150 ms after the ring and presses the key 150 ms after the
# answer, as a hand would: the agent draws its event log in such pauses. Medians and p99
# (nearest rank) in milliseconds, with the targets; besides the sentences each figure is
# printed as `figure NAME VALUE`. Exit status 1 when the work went wrong (a stand-in's
# script failed, a round trip is missing, a call id came back wrong or out of order).
# BUILD_DIR chooses the build folder (default: build); it runs alone in that build's prefix.
# KEEP_LOGS=DIR keeps both stand-ins' logs and scripts there.
set -euo pipefail
cd "$(dirname "$0")/../.."

ROUNDS=${1:-100}
BUILD_DIR="${BUILD_DIR:-build}"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" -j 2 --target OrvinAdapterSim SkypeSim OrvinAgent OrvinAppCtl bench_wm_floor >/dev/null

RUN="$BUILD_DIR/wine-run"
SIM="$BUILD_DIR/tools/OrvinAdapterSim/OrvinAdapterSim.exe"
SKYPESIM="$BUILD_DIR/tools/SkypeSim/SkypeSim.exe"
AGENT="$BUILD_DIR/src/agent/OrvinAgent.exe"
APPCTL="$BUILD_DIR/tools/OrvinAppCtl/OrvinAppCtl.exe"
FLOOR="$BUILD_DIR/tests/bench/floor/bench_wm_floor.exe"
WORK=$(mktemp -d)
PREFIX=$("$RUN" --env | sed -n 's/^WINEPREFIX=\([^ ]*\) .*/\1/p')
mkdir -p "$PREFIX"
source tests/bench/bench-lib.sh
ROOT='SOFTWARE\OrvinBench\Adapter'
TRACE_KEY='HKLM\Software\Velcora\Quendo'
RING_BASE=1000 # call ids of the ringing rounds: 1001 ..; of the answer rounds: 5001 ..
ANSWER_BASE=5000
key() { echo $((($1 - 1) % 9 + 1)); } # the key of answer round $1: 1 to 9

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
reg "HKLM\\$ROOT\\Config\\General" /v SoftPhoneType /t REG_BINARY /d 000000c021000000 # Skype
reg "HKLM\\$ROOT\\Config\\UI" /v Enable /t REG_DWORD /d 1
reg "$TRACE_KEY" /v DebugType /t REG_DWORD /d 0 # no trace: its cost is not the agent's

# The adapter stand-in's part: the agent connects to Skype; each ringing round is seen
# through to its end; in each answer round the service answers the ringing call.
{
    echo 'wait-agent timeout=60000'
    echo 'expect AGENT_EVENT NotifyAgentStatus info=1 timeout=60000'
    for i in $(seq 1 "$ROUNDS"); do
        n=$((RING_BASE + i))
        echo "expect CALL_EVENT CALL_STATUS_RINGING info=$n buf1=12 buf2=alice timeout=10000"
        echo "expect CALL_EVENT CALL_STATUS_FINISHED info=$n timeout=10000"
    done
    for i in $(seq 1 "$ROUNDS"); do
        n=$((ANSWER_BASE + i))
        echo "expect CALL_EVENT CALL_STATUS_RINGING info=$n buf1=12 buf2=alice timeout=10000"
        echo 'sleep 150' # the handset is lifted
        echo "send CALL_EVENT CALL_STATUS_INPROGRESS info=$n"
        echo "expect CALL_EVENT CALL_STATUS_INPROGRESS info=$n timeout=10000"
        echo 'sleep 150' # a key is pressed
        echo "send HW_EVENT NOTIFY_DTMF_KEY info='$(key "$i")'"
        echo "expect CALL_EVENT CALL_STATUS_FINISHED info=$n timeout=10000"
    done
    echo 'expect AGENT_EVENT NotifyAgentStatus timeout=120000' # Skype gone (2) or the agent closing (3)
} >"$WORK/service.txt"

# Skype's part: the connection queries and the caller's identification by standing answers.
{
    cat <<'SCRIPT'
answer get skypeversion => SKYPEVERSION 2.5.0.154
answer protocol 5 => PROTOCOL 5
answer get userstatus => USERSTATUS ONLINE
answer get currentuserhandle => CURRENTUSERHANDLE orvin.user
answer get user * can_leave_vm => USER $1 CAN_LEAVE_VM TRUE
answer search friends => USERS alice
answer get user alice speeddial => USER alice SPEEDDIAL 12
answer get user * onlinestatus => USER $1 ONLINESTATUS ONLINE
answer search voicemails => VOICEMAILS
answer set audio_in * => AUDIO_IN $1
answer set audio_out * => AUDIO_OUT $1
answer ping => PONG
answer get call * type => CALL $1 TYPE INCOMING_P2P
answer get call * partner_handle => CALL $1 PARTNER_HANDLE alice
attach success timeout=60000
expect-command search friends timeout=30000
notify CONNSTATUS ONLINE
sleep 2000
SCRIPT
    for i in $(seq 1 "$ROUNDS"); do
        n=$((RING_BASE + i))
        echo "notify CALL $n STATUS RINGING"
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
        echo "expect-command \"BTN_PRESSED $(key "$i")\" timeout=10000"
        echo 'sleep 20'
        echo "notify CALL $n STATUS FINISHED"
        echo 'sleep 40'
    done
} >"$WORK/skype.txt"

FAILED=0
echo "OrvinAgent.exe with the Skype client between OrvinAdapterSim.exe and SkypeSim.exe, under Wine ($(nproc) cores), $ROUNDS rounds each way"
"$RUN" "$FLOOR" 2000 </dev/null >"$WORK/floor.txt" 2>&1 || { cat "$WORK/floor.txt"; FAILED=1; }
tr -d '\r' <"$WORK/floor.txt" | grep -v '^figure '
FLOOR_MEDIAN=$(tr -d '\r' <"$WORK/floor.txt" | awk '$2 == "wm_copydata_round_trip_median_ms" { print $3 }')
FLOOR_P99=$(tr -d '\r' <"$WORK/floor.txt" | awk '$2 == "wm_copydata_round_trip_p99_ms" { print $3 }')
tr -d '\r' <"$WORK/floor.txt" | grep '^figure ' || true
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
"$RUN" "$SKYPESIM" --quiet --log-qpc --log "$(winpath "$WORK/skype.log")" "$(winpath "$WORK/skype.txt")" \
    </dev/null >/dev/null 2>"$WORK/skype.err" &
skype=$!
PIDS+=("$skype")
"$RUN" "$AGENT" </dev/null >/dev/null 2>&1 &
agent=$!
PIDS+=("$agent")

limit=$((ROUNDS + 120)) # seconds: about 0.5 s a round both ways, and the start
wait_pid "$skype" "$limit"
skype_status=$STATUS
"$RUN" "$APPCTL" shutdown 2 </dev/null >/dev/null 2>&1 || true
wait_pid "$agent" 30
agent_status=$STATUS
wait_pid "$sim" 30
sim_status=$STATUS
if [ "$skype_status" != 0 ] || [ "$sim_status" != 0 ] || [ "$agent_status" != 0 ]; then
    echo "  (SkypeSim exited $skype_status, the adapter stand-in $sim_status, the agent $agent_status)"
    tr -d '\r' <"$WORK/skype.err"
    tr -d '\r' <"$WORK/service.err"
    [ "$skype_status" != 3 ] && [ "$sim_status" != 3 ] ||
        echo "  (another Skype stand-in or service runs in this prefix: wait and retry, or use BUILD_DIR)"
    FAILED=1
fi

# The pairs, from both logs: `[SECONDS @COUNT] TX|RX ...`; the counter's frequency is in
# each log's first line.
tr -d '\r' <"$WORK/skype.log" >"$WORK/skype.lines"
tr -d '\r' <"$WORK/service.log" >"$WORK/service.lines"
# One time a round into ringing.ms and answer.ms (milliseconds), in the order of the calls.
awk -v rounds="$ROUNDS" -v ring="$RING_BASE" -v answer="$ANSWER_BASE" -v out="$WORK" '
    function count(line) { sub(/^\[ *[0-9.]+ @/, "", line); sub(/\].*/, "", line); return line }
    FNR == 1 { file = FILENAME ~ /skype/ ? "skype" : "service" }
    /performance counter frequency/ { frequency[file] = $NF; next }
    file == "skype" && / TX CALL [0-9]+ STATUS RINGING$/ {
        n = $(NF - 2); if (n > ring && n <= ring + rounds && !(n in ringFrom)) ringFrom[n] = count($0)
    }
    # What the Skype stand-in takes itself in a ringing round: each query taken to its answer sent.
    file == "skype" && / RX get call [0-9]+ type$/ { typeAsked[$(NF - 1)] = count($0) }
    file == "skype" && / TX CALL [0-9]+ TYPE / { typeTold[$(NF - 2)] = count($0) }
    file == "skype" && / RX get call [0-9]+ partner_handle$/ { rx = $(NF - 1); handleAsked[rx] = count($0) }
    file == "skype" && / TX CALL [0-9]+ PARTNER_HANDLE / { tx = $(NF - 2); handleTold[tx] = count($0) }
    file == "skype" && / RX get user alice speeddial$/ { dialAsked[rx] = count($0) }
    file == "skype" && / TX USER alice SPEEDDIAL 12$/ { dialTold[tx] = count($0) }
    file == "service" && / RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_RINGING info=/ {
        n = $0; sub(/.* info=/, "", n); sub(/ .*/, "", n); n += 0
        if (n > ring && n <= ring + rounds && !(n in ringTo)) { ringTo[n] = count($0); ringOrder[++ringSeen] = n }
    }
    file == "service" && / TX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_INPROGRESS info=/ {
        n = $0; sub(/.* info=/, "", n); sub(/ .*/, "", n); n += 0
        if (n > answer && n <= answer + rounds && !(n in answerFrom)) answerFrom[n] = count($0)
    }
    file == "skype" && / RX SET CALL [0-9]+ Status inprogress$/ {
        n = $(NF - 2); if (n > answer && n <= answer + rounds && !(n in answerTo)) { answerTo[n] = count($0); answerOrder[++answerSeen] = n }
    }
    # Keys: the i-th key the service sent to the i-th BTN_PRESSED at Skype (one a call).
    file == "service" && / TX IMM MSG_TYPE_HW_EVENT NOTIFY_DTMF_KEY info=/ {
        k = $0; sub(/.* info=/, "", k); sub(/ .*/, "", k); keyFrom[++keysSent] = count($0); keySent[keysSent] = sprintf("%c", k + 0)
    }
    file == "skype" && / RX BTN_PRESSED / { keyTo[++keysTaken] = count($0); keyTaken[keysTaken] = $NF }
    END {
        bad = 0
        if (frequency["skype"] == "" || frequency["skype"] != frequency["service"]) {
            print "  (the logs do not agree on the counter frequency)"; exit 1
        }
        f = frequency["skype"] / 1000
        for (i = 1; i <= rounds; i++) {
            n = ring + i
            if ((n in ringFrom) && (n in ringTo)) print (ringTo[n] - ringFrom[n]) / f > (out "/ringing.ms")
            if ((n in typeTold) && (n in handleTold) && (n in dialTold))
                print (typeTold[n] - typeAsked[n] + handleTold[n] - handleAsked[n] + dialTold[n] - dialAsked[n]) / f > (out "/ringing-skype.ms")
            else { printf "  (ringing round %d, call %d: %s)\n", i, n, (n in ringFrom) ? "no ringing at the service" : "not notified"; bad = 1 }
            if (ringOrder[i] != n) { printf "  (ringing at the service out of order: call %s came %dth)\n", ringOrder[i], i; bad = 1 }
            n = answer + i
            if ((n in answerFrom) && (n in answerTo)) print (answerTo[n] - answerFrom[n]) / f > (out "/answer.ms")
            else { printf "  (answer round %d, call %d: %s)\n", i, n, (n in answerFrom) ? "no answer command at Skype" : "not sent"; bad = 1 }
            if (answerOrder[i] != n) { printf "  (answer commands out of order: call %s came %dth)\n", answerOrder[i], i; bad = 1 }
            if ((i in keyFrom) && (i in keyTo) && keySent[i] == keyTaken[i]) print (keyTo[i] - keyFrom[i]) / f > (out "/keys.ms")
            else { printf "  (key round %d: sent %s, BTN_PRESSED %s at Skype)\n", i, (i in keyFrom) ? keySent[i] : "none", (i in keyTo) ? keyTaken[i] : "none"; bad = 1 }
        }
        exit bad
    }' "$WORK/skype.lines" "$WORK/service.lines" || FAILED=1

# report NAME FILE TEXT [TARGET-MEDIAN TARGET-P99]: the figures, each also as a multiple
# of the floor's round trip, and whether the targets are met.
report() {
    local name=$1 file=$2 text=$3 targetMedian=${4:-} targetP99=${5:-}
    [ -s "$file" ] || return 0
    sort -g "$file" | awk -v name="$name" -v text="$text" -v fm="${FLOOR_MEDIAN:-0}" -v fp="${FLOOR_P99:-0}" \
        -v tm="$targetMedian" -v tp="$targetP99" '
        { v[NR] = $1 }
        END {
            median = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
            rank = int((99 * NR + 99) / 100); p99 = v[rank]
            printf "%s: %d round trips, median %.2f ms, p99 %.2f ms, min %.2f ms, max %.2f ms\n", text, NR, median, p99, v[1], v[NR]
            if (fm > 0 && fp > 0)
                printf "  = %.1f x the floor'"'"'s median, %.1f x its p99\n", median / fm, p99 / fp
            if (tm != "")
                printf "  target median <= %s ms, p99 <= %s ms: %s\n", tm, tp, (median <= tm && p99 <= tp) ? "met" : "NOT met"
            printf "figure %s_median_ms %.2f\nfigure %s_p99_ms %.2f\n", name, median, name, p99
            if (fm > 0 && fp > 0)
                printf "figure %s_median_floors %.1f\nfigure %s_p99_floors %.1f\n", name, median / fm, name, p99 / fp
        }'
}
report skype_ringing_to_service "$WORK/ringing.ms" "ringing: Skype's CALL n STATUS RINGING -> CALL_STATUS_RINGING at the service" 3 8
report skype_ringing_replies "$WORK/ringing-skype.ms" "  of which the Skype stand-in's three replies (query taken to answer sent)"
report service_answer_to_skype "$WORK/answer.ms" "answer: the service's CALL_STATUS_INPROGRESS -> SET CALL n Status inprogress at Skype" 1 3
report handset_key_to_skype "$WORK/keys.ms" "keys: the service's NOTIFY_DTMF_KEY k during the call -> BTN_PRESSED k at Skype" 1 3
exit $FAILED
