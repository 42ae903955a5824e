#!/usr/bin/env bash
# OrvinAgent.exe between the adapter stand-in (OrvinAdapterSim.exe) and each softphone's
# stand-in of the table below, under Wine, one softphone after the other in one run: one
# round trip each way, ROUNDS times per softphone (as tests/bench/skype_bench.sh does for
# Skype alone).
#   ringing  the stand-in's ring (Skype: CALL n STATUS RINGING, with the agent's follow-up
#            queries answered; EyeBeam: the record 0 4; QQ: event 19 with status 2) to
#            CALL_STATUS_RINGING at the service; then the call ends and the next rings
#   answer   the service's CALL_EVENT CALL_STATUS_INPROGRESS, sent while the call rings,
#            to the answer at the stand-in (Skype: SET CALL n Status inprogress; EyeBeam: the
#            record 0 5; QQ: event 12 with 145); then the call runs, ends, and the next rings
#   floor    the device link alone in the same run (tests/bench/devicelink_bench.sh with
#            ROUNDS events): the service's event to a CIoManager's owner callback, under
#            every answer; a CIoManager's SendEvent to the service's read, under every ring
#   tests/bench/softphones_bench.sh [ROUNDS [NAME...]]      default 100, every softphone
# A last table puts every softphone's medians and p99 side by side.
# Each is timed from one stand-in's log to the other's: both stamp their lines with the
# performance counter (--log-qpc), one clock for every process under Wine. Medians and p99
# (nearest rank) in milliseconds, and each median's ratio to its direction's floor; besides the
# sentences each figure is printed as `figure NAME VALUE`. Exit status 1 when the work
# went wrong (a stand-in's script failed, a round trip is missing).
# BUILD_DIR chooses the build folder (default: build); it runs alone in that build's prefix.
# KEEP_LOGS=DIR keeps the stand-ins' logs and scripts there.
#
# A softphone is added by an entry of the table (softphone NAME KEY=VALUE ...): its
# SoftPhoneType record, its stand-in, the stand-in's script (what comes first, a ringing
# round and an answer round, with $N for the round's call number) and the stand-in's log
# lines that mark the ring going out and the answer coming in (awk patterns), the call
# id the service sees ("n" for $N, or a number) and what its ring carries.
set -euo pipefail
cd "$(dirname "$0")/../.."

ROUNDS=${1:-100}
shift || true
BUILD_DIR="${BUILD_DIR:-build}"

declare -A SP=() # NAME.KEY -> value
SOFTPHONES=()
softphone() {
    local name=$1 pair
    shift
    SOFTPHONES+=("$name")
    for pair in "$@"; do
        SP[$name.${pair%%=*}]=${pair#*=}
    done
}

# ---- The table (lines of a script are separated by '|')
# Skype's connection asks for each friend's speed dial: that query is taken before the
# rounds, so that each round's expect-command takes its own call's.

softphone skype record=000000c021000000 program=SkypeSim id=n ringing="buf1=12 buf2=alice" \
    setup="answer get skypeversion => SKYPEVERSION 2.5.0.154|answer protocol 5 => PROTOCOL 5|answer get userstatus => USERSTATUS ONLINE|answer get currentuserhandle => CURRENTUSERHANDLE orvin.user|answer get user * can_leave_vm => USER \$1 CAN_LEAVE_VM TRUE|answer search friends => USERS alice|answer get user alice speeddial => USER alice SPEEDDIAL 12|answer get user * onlinestatus => USER \$1 ONLINESTATUS ONLINE|answer search voicemails => VOICEMAILS|answer set audio_in * => AUDIO_IN \$1|answer set audio_out * => AUDIO_OUT \$1|answer ping => PONG|answer get call * type => CALL \$1 TYPE INCOMING_P2P|answer get call * partner_handle => CALL \$1 PARTNER_HANDLE alice|attach success timeout=60000|expect-command search friends timeout=30000|expect-command get user alice speeddial timeout=30000|notify CONNSTATUS ONLINE|sleep 2000" \
    ring="notify CALL \$N STATUS RINGING|expect-command get user alice speeddial timeout=10000|sleep 40|notify CALL \$N STATUS FINISHED|sleep 40" \
    answer="notify CALL \$N STATUS RINGING|expect-command \"SET CALL \$N Status inprogress\" timeout=10000|sleep 10|notify CALL \$N STATUS INPROGRESS|sleep 20|notify CALL \$N STATUS FINISHED|sleep 40" \
    ring_out='/ TX CALL [0-9]+ STATUS RINGING$/' answer_in='/ RX SET CALL [0-9]+ Status inprogress$/'

softphone eyebeam record=0000c0005f000000 program=EyeBeamSim id=1000 ringing="" \
    setup="attach timeout=60000|sleep 2000" \
    ring="send 0 4|sleep 40|send 0 9|sleep 40" \
    answer="send 0 4|expect 0 5 timeout=10000|sleep 10|send 0 5|sleep 20|send 0 9|sleep 40" \
    ring_out='/ TX type=0 code=4 info=0$/' answer_in='/ RX type=0 code=5 info=0$/'

softphone qq record=0000003055000000 program=QQSim id=n ringing="buf1=alice" \
    setup="attach timeout=60000|expect 10 timeout=10000|sleep 2000" \
    ring="send 19 8:byte:2 9:u32:\$N 10:textz:alice|sleep 40|send 19 8:byte:6 9:u32:\$N|sleep 40" \
    answer="send 19 8:byte:2 9:u32:\$N 10:textz:alice|expect 12 7:byte:145 timeout=10000|sleep 10|send 19 8:byte:4 9:u32:\$N|sleep 20|send 19 8:byte:6 9:u32:\$N|sleep 40" \
    ring_out='/ TX event=19 8:byte:2 /' answer_in='/ RX event=12 7:byte:145$/'

# ThinkIt and TelTel have benchmarks of their own (ThinkIt rings twice, the second time with
# the caller; TelTel's stand-in is a library driven through a pipe): run here after the
# others, in the same prefix, and their figures taken into the table.
softphone thinkit bench=tests/bench/thinkit_bench.sh program=ThinkItSim
softphone teltel bench=tests/bench/teltel_bench.sh program=TelTelSim

# ---- The run

CHOSEN=("$@")
[ ${#CHOSEN[@]} -gt 0 ] || CHOSEN=("${SOFTPHONES[@]}")
for name in "${CHOSEN[@]}"; do
    [ -n "${SP[$name.program]:-}" ] || { echo "softphones_bench.sh: unknown softphone $name (known: ${SOFTPHONES[*]})" >&2; exit 2; }
done
TARGETS=(OrvinAdapterSim OrvinAgent OrvinAppCtl bench_ioman)
OWN=() DELEGATED=()
for name in "${CHOSEN[@]}"; do
    TARGETS+=("${SP[$name.program]}")
    if [ -n "${SP[$name.bench]:-}" ]; then DELEGATED+=("$name"); else OWN+=("$name"); fi
done
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" -j 2 --target "${TARGETS[@]}" >/dev/null

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
RING_BASE=1000 # call numbers of the ringing rounds: 1001 ..; of the answer rounds: 5001 ..
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
reg "HKLM\\$ROOT\\Config\\UI" /v Enable /t REG_DWORD /d 1
reg "$TRACE_KEY" /v DebugType /t REG_DWORD /d 0 # no trace: its cost is not the agent's

# lines TEMPLATE N: the template's lines, $N replaced.
lines() {
    tr '|' '\n' <<<"$1" | sed "s/\\\$N/$2/g"
}

# The service's part: the agent connects; each ringing round is seen through to its end;
# in each answer round the service answers the ringing call.
service_script() {
    local name=$1 i n id
    echo 'wait-agent timeout=60000'
    echo 'expect AGENT_EVENT NotifyAgentStatus info=1 timeout=60000'
    for i in $(seq 1 "$ROUNDS"); do
        n=$((RING_BASE + i)) id=${SP[$name.id]}
        [ "$id" = n ] && id=$n
        echo "expect CALL_EVENT CALL_STATUS_RINGING info=$id ${SP[$name.ringing]} timeout=10000"
        echo "expect CALL_EVENT CALL_STATUS_FINISHED info=$id timeout=10000"
    done
    for i in $(seq 1 "$ROUNDS"); do
        n=$((ANSWER_BASE + i)) id=${SP[$name.id]}
        [ "$id" = n ] && id=$n
        echo "expect CALL_EVENT CALL_STATUS_RINGING info=$id ${SP[$name.ringing]} timeout=10000"
        echo 'sleep 30' # the agent done with the ring: the handset is lifted later
        echo "send CALL_EVENT CALL_STATUS_INPROGRESS info=$id"
        echo "expect CALL_EVENT CALL_STATUS_INPROGRESS info=$id timeout=10000"
        echo "expect CALL_EVENT CALL_STATUS_FINISHED info=$id timeout=10000"
    done
    echo 'expect AGENT_EVENT NotifyAgentStatus timeout=120000' # the softphone gone (2) or the agent closing (3)
}

softphone_script() {
    local name=$1 i
    lines "${SP[$name.setup]}" 0
    for i in $(seq 1 "$ROUNDS"); do
        lines "${SP[$name.ring]}" $((RING_BASE + i))
    done
    for i in $(seq 1 "$ROUNDS"); do
        lines "${SP[$name.answer]}" $((ANSWER_BASE + i))
    done
}

# report NAME FILE TEXT [FLOOR-MEDIAN]
report() {
    local name=$1 file=$2 text=$3 floor=${4:-}
    [ -s "$file" ] || return 0
    sort -g "$file" | awk -v name="$name" -v text="$text" -v floor="$floor" '
        { v[NR] = $1 }
        END {
            median = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
            rank = int((99 * NR + 99) / 100); p99 = v[rank]
            ratio = (floor != "" && floor > 0) ? sprintf(", %.1f x the floor", median / floor) : ""
            printf "  %s: %d round trips, median %.2f ms, p99 %.2f ms, min %.2f ms, max %.2f ms%s\n", text, NR, median, p99, v[1], v[NR], ratio
            printf "figure %s_median_ms %.2f\nfigure %s_p99_ms %.2f\n", name, median, name, p99
        }'
}

FAILED=0
echo "OrvinAgent.exe between OrvinAdapterSim.exe and each softphone's stand-in, under Wine ($(nproc) cores), $ROUNDS rounds each way per softphone"
for name in "${OWN[@]}"; do
    program=${SP[$name.program]}
    service_script "$name" >"$WORK/$name-service.txt"
    softphone_script "$name" >"$WORK/$name.txt"
    reg "HKLM\\$ROOT\\Config\\General" /v SoftPhoneType /t REG_BINARY /d "${SP[$name.record]}"
    "$RUN" "$SIM" --quiet --log-qpc --key0 "$ROOT" --log "$(winpath "$WORK/$name-service.log")" \
        "$(winpath "$WORK/$name-service.txt")" </dev/null >/dev/null 2>"$WORK/$name-service.err" &
    sim=$!
    PIDS+=("$sim")
    deadline=$((SECONDS + 60))
    until grep -qF "] serving " "$WORK/$name-service.log" 2>/dev/null; do
        if ! kill -0 "$sim" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
            echo "the adapter stand-in did not start (another service in this prefix? wait and retry, or use BUILD_DIR):"
            tr -d '\r' <"$WORK/$name-service.err"
            exit 1
        fi
        sleep 0.1
    done
    "$RUN" "$BUILD_DIR/tools/$program/$program.exe" --quiet --log-qpc --log "$(winpath "$WORK/$name.log")" \
        "$(winpath "$WORK/$name.txt")" </dev/null >/dev/null 2>"$WORK/$name.err" &
    phone=$!
    PIDS+=("$phone")
    # The agent discovers its softphone once, as it starts: the stand-in's window first.
    deadline=$((SECONDS + 60))
    until grep -qF "] window of class " "$WORK/$name.log" 2>/dev/null; do
        if ! kill -0 "$phone" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
            echo "$program did not open its window (another one in this prefix? wait and retry, or use BUILD_DIR):"
            tr -d '\r' <"$WORK/$name.err"
            exit 1
        fi
        sleep 0.1
    done
    "$RUN" "$AGENT" </dev/null >/dev/null 2>&1 &
    agent=$!
    PIDS+=("$agent")
    wait_pid "$phone" $((ROUNDS * 2 / 5 + 120))
    phone_status=$STATUS
    "$RUN" "$APPCTL" shutdown 2 </dev/null >/dev/null 2>&1 || true
    wait_pid "$agent" 30
    agent_status=$STATUS
    wait_pid "$sim" 30
    sim_status=$STATUS
    if [ "$phone_status" != 0 ] || [ "$sim_status" != 0 ] || [ "$agent_status" != 0 ]; then
        echo "  ($program exited $phone_status, the adapter stand-in $sim_status, the agent $agent_status)"
        tr -d '\r' <"$WORK/$name.err"
        tr -d '\r' <"$WORK/$name-service.err"
        FAILED=1
    fi
    # The pairs, in the order of the calls: `[SECONDS @COUNT] TX|RX ...`; the counter's
    # frequency is in each log's first line.
    tr -d '\r' <"$WORK/$name.log" >"$WORK/$name.phone"
    tr -d '\r' <"$WORK/$name-service.log" >"$WORK/$name.service"
    awk -v rounds="$ROUNDS" -v out="$WORK/$name" '
        function count(line) { sub(/^\[ *[0-9.]+ @/, "", line); sub(/\].*/, "", line); return line }
        FNR == 1 { file = FILENAME ~ /\.phone$/ ? "phone" : "service" }
        /performance counter frequency/ { frequency[file] = $NF; next }
        file == "phone" && '"${SP[$name.ring_out]}"' { ringFrom[++ringsOut] = count($0) }
        file == "phone" && '"${SP[$name.answer_in]}"' { answerTo[++answersIn] = count($0) }
        file == "service" && / RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_RINGING info=/ { ringTo[++ringsIn] = count($0) }
        file == "service" && / TX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_INPROGRESS info=/ { answerFrom[++answersOut] = count($0) }
        END {
            if (frequency["phone"] == "" || frequency["phone"] != frequency["service"]) {
                print "  (the logs do not agree on the counter frequency)"; exit 1
            }
            f = frequency["phone"] / 1000
            bad = 0
            for (i = 1; i <= rounds; i++) {
                if ((i in ringFrom) && (i in ringTo)) print (ringTo[i] - ringFrom[i]) / f > (out ".ringing.ms")
                else { printf "  (ringing round %d missing)\n", i; bad = 1 }
                if ((i in answerFrom) && (i in answerTo)) print (answerTo[i] - answerFrom[i]) / f > (out ".answer.ms")
                else { printf "  (answer round %d missing)\n", i; bad = 1 }
            }
            exit bad
        }' "$WORK/$name.phone" "$WORK/$name.service" || FAILED=1
done

for name in "${DELEGATED[@]}"; do
    BUILD_DIR="$BUILD_DIR" "${SP[$name.bench]}" "$ROUNDS" >"$WORK/$name.bench.out" 2>&1 || {
        echo "  (${SP[$name.bench]} did not run through)"
        tail -n 5 "$WORK/$name.bench.out"
        FAILED=1
    }
done

# The floor, in the same prefix after the softphones: the device link alone.
BUILD_DIR="$BUILD_DIR" tests/bench/devicelink_bench.sh "$ROUNDS" 10 1 >"$WORK/floor.out" 2>&1 || {
    echo "  (the device link's floor did not run through)"
    tail -n 5 "$WORK/floor.out"
    FAILED=1
}
floor() {
    sed -n "s/^figure $1 //p" "$WORK/floor.out" | head -n 1
}
TO_AGENT=$(floor event_latency_median_ms)
TO_SERVICE=$(floor request_latency_median_ms)
echo "floor: the device link alone (devicelink_bench.sh, $ROUNDS events each way)"
echo "  the service's event -> a CIoManager's owner callback: median ${TO_AGENT:-?} ms, p99 $(floor event_latency_p99_ms) ms"
echo "  a CIoManager's SendEvent -> the service's read: median ${TO_SERVICE:-?} ms, p99 $(floor request_latency_p99_ms) ms"
printf 'figure floor_to_agent_median_ms %s\nfigure floor_to_service_median_ms %s\n' "${TO_AGENT:-?}" "${TO_SERVICE:-?}"
for name in "${OWN[@]}"; do
    echo "$name (${SP[$name.program]}):"
    report "${name}_ringing_to_service" "$WORK/$name.ringing.ms" "ringing: the ring at $name -> CALL_STATUS_RINGING at the service" "$TO_SERVICE" | tee -a "$WORK/figures"
    report "service_answer_to_${name}" "$WORK/$name.answer.ms" "answer: the service's CALL_STATUS_INPROGRESS -> the answer at $name" "$TO_AGENT" | tee -a "$WORK/figures"
done
for name in "${DELEGATED[@]}"; do
    echo "$name (${SP[$name.program]}, ${SP[$name.bench]}):"
    grep -E '^(ringing|answer|floor|  the same)' "$WORK/$name.bench.out" | sed 's/^/  /' || true
    grep -E "^figure (${name}_ringing_to_service|service_answer_to_${name})_" "$WORK/$name.bench.out" | tee -a "$WORK/figures" || true
done

# The table: medians and p99 in milliseconds, each median also as a multiple of its floor.
figure() {
    sed -n "s/^figure $1 //p" "$WORK/figures" 2>/dev/null | head -n 1
}
times_floor() {
    awk -v v="$1" -v f="$2" 'BEGIN { if (v != "" && f != "" && f > 0) printf "%.1f", v / f; else printf "?" }'
}
echo
printf '%-10s %28s %28s\n' softphone "ringing -> service (x floor)" "answer -> softphone (x floor)"
for name in "${CHOSEN[@]}"; do
    rm=$(figure "${name}_ringing_to_service_median_ms") rp=$(figure "${name}_ringing_to_service_p99_ms")
    am=$(figure "service_answer_to_${name}_median_ms") ap=$(figure "service_answer_to_${name}_p99_ms")
    printf '%-10s %28s %28s\n' "$name" "${rm:-?} / ${rp:-?} ms ($(times_floor "$rm" "$TO_SERVICE"))" \
        "${am:-?} / ${ap:-?} ms ($(times_floor "$am" "$TO_AGENT"))"
done
echo "(median / p99; floor: the device link alone, ${TO_SERVICE:-?} ms to the service, ${TO_AGENT:-?} ms to the agent)"
exit $FAILED
