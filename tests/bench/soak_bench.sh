#!/usr/bin/env bash
# A long run of the agent (the Skype client, its event log shown) between the adapter
# stand-in and the Skype stand-in, under Wine, on PulseAudio's virtual sound devices:
#   calls      CALLS Skype calls back to back: Skype rings (the caller identified by
#              its queries), the handset is lifted and the service answers, a key is
#              pressed (BTN_PRESSED at Skype), the handset is put down and the service
#              ends the call (SET CALL n Status finished, hook on), Skype reports it finished
#   dialogues  DIALOGUES answering-machine dialogues: the greeting, the beep, a message of
#              one second recorded, the terminate request, the service's terminate
#   tests/bench/soak_bench.sh [CALLS [DIALOGUES]]      defaults 1000 and 50
# The agent's handles, threads and private memory (tests/bench/soak: bench_process_probe,
# read from outside as a task manager would) at the start, after every 100 calls, after
# the first dialogue and at the end; both stand-ins pause a few seconds at each of these
# points, so that the agent is idle when it is looked at. Then the growth: private memory
# from the start and from the first hundred calls, and every handle and thread that did not
# come back. Besides the sentences each figure is printed as `figure NAME VALUE`. Exit
# status 1 when the work went wrong (a stand-in's script failed, the agent died).
set -euo pipefail
cd "$(dirname "$0")/../.."

CALLS=${1:-1000}
DIALOGUES=${2:-50}
[ "$CALLS" -ge 100 ] && [ $((CALLS % 100)) = 0 ] || { echo "CALLS: a multiple of 100" >&2; exit 2; }
[ "$DIALOGUES" -ge 1 ] || { echo "DIALOGUES: 1 or more" >&2; exit 2; }
BUILD_DIR="${BUILD_DIR:-build}"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" -j 2 --target OrvinAdapterSim SkypeSim OrvinAgent OrvinAppCtl \
    bench_process_probe >/dev/null
BUILD_DIR=$(cd "$BUILD_DIR" && pwd)
export BUILD_DIR WINE_RUN="$BUILD_DIR/wine-run"
source tests/ivr/system/ivr-lib.sh
SKYPESIM="$BUILD_DIR/tools/SkypeSim/SkypeSim.exe"
PROBE="$BUILD_DIR/tests/bench/soak/bench_process_probe.exe"
stop_wine() { "$WINE_RUN" --stop; }
"$WINE_RUN" --start
at_exit stop_wine

PAUSE_MS=4000 # each stand-in's pause at a point where the agent is looked at
CALL_BASE=100000

pulse_start
ivr_install VoiceMsgDurationSec=1
reg_add "$ROOT_KEY\\Config\\General" /v SoftPhoneType /t REG_BINARY /d 000000c021000000 # Skype
reg_add "$ROOT_KEY\\Config\\UI" /v Enable /t REG_DWORD /d 1                           # the event log too
feed_start

# The service's part.
{
    echo 'wait-agent timeout=60000'
    echo 'expect AGENT_EVENT NotifyAgentStatus info=1 timeout=60000'
    echo "sleep $PAUSE_MS" # looked at: the start
    for i in $(seq 1 "$CALLS"); do
        n=$((CALL_BASE + i))
        echo "expect CALL_EVENT CALL_STATUS_RINGING info=$n buf1=12 buf2=alice timeout=20000"
        echo 'send HW_EVENT NOTIFY_HOOK_STATE info=0'
        echo "send CALL_EVENT CALL_STATUS_INPROGRESS info=$n"
        echo "expect CALL_EVENT CALL_STATUS_INPROGRESS info=$n timeout=20000"
        echo "send HW_EVENT NOTIFY_DTMF_KEY info='$(((i - 1) % 9 + 1))'"
        echo 'send HW_EVENT NOTIFY_HOOK_STATE info=1'
        echo "send CALL_EVENT CALL_STATUS_FINISHED info=$n"
        echo "expect CALL_EVENT CALL_STATUS_FINISHED info=$n timeout=20000"
        [ $((i % 100)) != 0 ] || echo "sleep $PAUSE_MS # looked at: $i calls"
    done
    for k in $(seq 1 "$DIALOGUES"); do
        echo "send 7 0 info=1 buf1=$(buf1 "$k" 2 0)"               # IVR_START, answering machine
        echo "expect 7 8 info=$k buf1=$(buf1 "$k" 8) timeout=30000" # the message is being recorded
        echo "expect 7 6 info=$k buf1=$(buf1 "$k" 0) timeout=30000" # it has been: terminate, please
        echo "send 7 1 buf1=$(buf1 "$k")"                           # IVR_TERMINATE
        [ "$k" != 1 ] || echo "sleep $PAUSE_MS # looked at: the first dialogue"
    done
    echo "sleep $PAUSE_MS # looked at: the end"
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
SCRIPT
    echo "sleep $PAUSE_MS"
    for i in $(seq 1 "$CALLS"); do
        n=$((CALL_BASE + i))
        echo "notify CALL $n STATUS RINGING"
        echo "expect-command \"SET CALL $n Status inprogress\" timeout=20000"
        echo "notify CALL $n STATUS INPROGRESS"
        echo "expect-command \"BTN_PRESSED $(((i - 1) % 9 + 1))\" timeout=20000"
        echo "expect-command \"SET CALL $n Status finished\" timeout=20000"
        echo "notify CALL $n STATUS FINISHED"
        [ $((i % 100)) != 0 ] || echo "sleep $PAUSE_MS"
    done
    echo 'sleep 3600000' # Skype stays while the dialogues run
} >"$WORK/skype.txt"

start_service service --quiet "$(winpath "$WORK/service.txt")"
start skype "$SKYPESIM" --quiet --log "$(winpath "$WORK/skype.log")" "$(winpath "$WORK/skype.txt")"
start agent "$AGENT"

# probe LABEL: the agent's counts now, into $WORK/probes.txt as "LABEL key=value ...".
probe() {
    local line
    line=$("$WINE_RUN" "$PROBE" OrvinAgent.exe </dev/null 2>&1 | tr -d '\r') || fail "the probe failed: $line"
    echo "$1 $line" >>"$WORK/probes.txt"
    printf '  %-22s %s\n' "$1:" "$line"
}
# at_pause TEXT COUNT: once the service's log holds TEXT COUNT times, into the pause.
at_pause() {
    wait_count service.log "$1" "$2" 600
    kill -0 "${STARTED[agent]}" 2>/dev/null || fail "the agent ended"
    sleep 1.5 # the event log drawn, the last messages handled
}

echo "OrvinAgent.exe (Skype client, event log shown) with OrvinAdapterSim.exe and SkypeSim.exe, under Wine ($(nproc) cores): $CALLS calls, then $DIALOGUES answering-machine dialogues"
: >"$WORK/probes.txt"
at_pause "RX IMM MSG_TYPE_AGENT_EVENT NotifyAgentStatus info=1" 1
probe start
for c in $(seq 100 100 "$CALLS"); do
    at_pause "RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_FINISHED info=" "$c"
    probe "$c calls"
done
at_pause "TX IMM MSG_TYPE_IVR_EVENT IVR_TERMINATE" 1
probe "first dialogue"
at_pause "TX IMM MSG_TYPE_IVR_EVENT IVR_TERMINATE" "$DIALOGUES"
probe end
expect_status service 0 60
stop skype
shutdown_agent

# The growth.
awk -v calls="$CALLS" '
    function value(line, key,   m) { return match(line, " " key "=[0-9-]+") ? substr(line, RSTART + length(key) + 2, RLENGTH - length(key) - 2) + 0 : -1 }
    { label = $0; sub(/ pid=.*/, "", label); n++; labels[n] = label
      handles[n] = value($0, "handles"); threads[n] = value($0, "threads"); kb[n] = value($0, "private_kb") }
    END {
        first = 2 # after the first hundred calls: what a first call makes once is there
        printf "private memory: %+d KB from the start to the end, %+d KB from %s to %s (%d calls)\n",
            kb[n] - kb[1], kb[n - 2] - kb[first], labels[first], labels[n - 2], calls - 100
        printf "private memory over the dialogues: %+d KB from the first to the end\n", kb[n] - kb[n - 1]
        printf "handles: %d at the start, %d at the end (%+d); threads: %d at the start, %d at the end (%+d)\n",
            handles[1], handles[n], handles[n] - handles[1], threads[1], threads[n], threads[n] - threads[1]
        printf "figure soak_private_kb_start_to_end %d\nfigure soak_private_kb_calls_100_to_%d %d\n", kb[n] - kb[1], calls, kb[n - 2] - kb[first]
        printf "figure soak_private_kb_dialogues %d\nfigure soak_handles_start_to_end %d\nfigure soak_threads_start_to_end %d\n",
            kb[n] - kb[n - 1], handles[n] - handles[1], threads[n] - threads[1]
    }' "$WORK/probes.txt"
