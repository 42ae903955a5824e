# Sourced by the call recorder's system-test drivers: the agent's helpers (agent-lib.sh:
# the adapter stand-in, the agent's registry root and trace file, start, wait_text,
# expect_* and the clean-up), plus the recorder interface's stand-in, the recording
# folder and the checks of what was recorded (sox reads every file back).
#
# The drivers point the machine-wide trace key at their own file, serve the service's
# and the recorder driver's pipes and talk to the agent's windows: they run alone.
source "$(dirname "${BASH_SOURCE[0]}")/../../agent/system/agent-lib.sh"
use_work "$BUILD_DIR/Testing/recorder/$(basename "$0" .sh)"

RECORDER_UI="$BUILD_DIR/tools/OrvinRecorderUi/OrvinRecorderUi.exe"
PROBE_DIALOG="$BUILD_DIR/tests/recorder/system/DialogProbe.exe"
RECORDINGS="$WORK/recordings"

command -v sox >/dev/null || fail "sox is missing (scripts/install-deps.sh installs it)"

# The agent talks to the adapter stand-in's recorder pipe only with this switch (the
# value named after the device, 1), which no installation sets; it goes at the end.
PIPE_SWITCH_KEY='HKLM\SOFTWARE\OrvinTest\DriverPipes'
forbid_recorder_pipe() {
    "$WINE_RUN" reg delete "$PIPE_SWITCH_KEY" /v ovrecagentDevice0 /f </dev/null >/dev/null 2>&1 || true
}

# recorder_registry [DIRECTORY-WINDOWS-PATH]: the agent's registry (agent_registry) with
# the recorder's key: its folder ($RECORDINGS unless told) and automation off; the
# recorder driver's stand-in pipe switched on.
recorder_registry() {
    agent_registry
    at_exit forbid_recorder_pipe
    reg_add "$PIPE_SWITCH_KEY" /v ovrecagentDevice0 /t REG_DWORD /d 1
    mkdir -p "$RECORDINGS"
    reg_add "$ROOT_KEY\\Recorder" /v Directory /d "${1:-$(winpath "$RECORDINGS")}"
    reg_add "$ROOT_KEY\\Recorder" /v AutomationMode /t REG_DWORD /d 0
}

# make_call FILE SECONDS [FREQUENCY]: a call's audio as the driver delivers it (PCM, mono,
# 16 bits, 9600 samples a second): a tone under noise, different in every second.
make_call() {
    sox -n -r 9600 -c 1 -b 16 -e signed-integer "$WORK/$1" synth "$2" sine "${3:-440}-1800" \
        whitenoise vol 0.3 remix - 2>"$WORK/sox.err" || fail "sox could not make $1: $(cat "$WORK/sox.err")"
}

# ui NAME SCRIPT: the recorder interface's stand-in runs SCRIPT ("cmd;cmd") to its end;
# its answers in $WORK/NAME.out, its log in $WORK/NAME.log.
ui() {
    local name=$1
    run "$name" 60 "$RECORDER_UI" --quiet --log "$(winpath "$WORK/$name.log")" --script "$2"
    [ "$STATUS" = 0 ] || fail "OrvinRecorderUi ($2) exited with $STATUS: $(cat "$WORK/$name.err")"
}

# recordings: the recorded files' names, oldest first.
recordings() {
    (cd "$RECORDINGS" && ls -1tr -- *.wav 2>/dev/null) || true
}

# expect_recordings N: exactly N files were recorded.
expect_recordings() {
    local count
    count=$(recordings | wc -l)
    [ "$count" = "$1" ] || fail "$count recordings in $RECORDINGS, expected $1: $(recordings | tr '\n' ' ')"
}

# header_word FILE OFFSET: the 32-bit little-endian word at OFFSET of FILE.
header_word() {
    od -An -tu4 -j "$2" -N 4 "$1" | tr -d ' '
}

# expect_valid_wav FILE: the 44-byte header the recorder writes (PCM, mono, 9600 samples
# a second, 16 bits) with both sizes matching the file, and sox reads it back whole.
expect_valid_wav() {
    local file=$1 size data
    [ -f "$file" ] || fail "no recording $file"
    size=$(stat -c %s "$file")
    [ "$size" -ge 44 ] || fail "$file has $size bytes, less than a WAV header"
    data=$((size - 44))
    [ "$(head -c 4 "$file")" = RIFF ] || fail "$file does not begin with RIFF"
    [ "$(header_word "$file" 4)" = $((data + 36)) ] ||
        fail "$file: RIFF size $(header_word "$file" 4), expected $((data + 36)) for a file of $size bytes"
    [ "$(header_word "$file" 40)" = "$data" ] ||
        fail "$file: data size $(header_word "$file" 40), expected $data for a file of $size bytes"
    [ "$(header_word "$file" 24)" = 9600 ] || fail "$file: $(header_word "$file" 24) samples a second, not 9600"
    [ "$(sox --i -r "$file" 2>/dev/null)" = 9600 ] || fail "sox does not read $file as 9600 samples a second"
    [ "$(sox --i -c "$file" 2>/dev/null)" = 1 ] || fail "sox does not read $file as mono"
    [ "$(sox --i -b "$file" 2>/dev/null)" = 16 ] || fail "sox does not read $file as 16 bits"
    [ "$(sox --i -s "$file" 2>/dev/null)" = $((data / 2)) ] ||
        fail "sox reads $(sox --i -s "$file" 2>/dev/null) samples of $file, expected $((data / 2))"
}

# samples FILE: the samples sox reads from a WAV file, as raw 16-bit bytes.
samples() {
    sox "$1" -t raw -e signed-integer -b 16 -c 1 - 2>/dev/null
}

# expect_same_audio RECORDED QUEUED: sox reads the recording back sample for sample equal
# to what the driver was given.
expect_same_audio() {
    expect_valid_wav "$1"
    cmp -s <(samples "$1") <(samples "$2") ||
        fail "$(basename "$1") is not sample for sample $(basename "$2"): $(cmp <(samples "$1") <(samples "$2") 2>&1 | head -1)"
}

# expect_audio_prefix RECORDED QUEUED: the recording holds the first samples of what was
# queued (a recording cut short), at least one second of them.
expect_audio_prefix() {
    expect_valid_wav "$1"
    local bytes
    bytes=$(samples "$1" | wc -c)
    [ "$bytes" -ge 19200 ] || fail "$(basename "$1") holds only $bytes bytes of audio"
    cmp -s <(samples "$1") <(samples "$2" | head -c "$bytes") ||
        fail "$(basename "$1") is not the beginning of $(basename "$2")"
}

# sim COMMAND [SECONDS] and ui_do COMMAND [SECONDS]: a line for the adapter stand-in
# ("service") or the recorder interface ("ui").
sim() {
    do_line service "$@"
}
ui_do() {
    do_line ui "$@"
}

# start_fed_service [SIM-ARGS...]: the adapter stand-in (its log service.log), fed line
# by line.
start_fed_service() {
    start_fed service "$SIM" --log "$(winpath "$WORK/service.log")" --key0 "$ROOT" "$@" --interactive
    wait_text service.log "] serving " 30
}

# start_stand_ins [SIM-ARGS...]: the adapter stand-in and the recorder interface (ui.log,
# its answers in ui.out), both fed line by line.
start_stand_ins() {
    start_fed_service "$@"
    start_fed ui "$RECORDER_UI" --quiet --log "$(winpath "$WORK/ui.log")" --interactive
    wait_text ui.log "] window " 30
}

# stop_stand_ins: both inputs end; each must end with status 0 (every line done, and the
# agent kept to both pipes' layouts).
stop_stand_ins() {
    end_feed ui
    end_feed service
    expect_status ui 0 30
    expect_status service 0 30
}

# shutdown_agent: the application manager's shutdown command, as an installer sends it.
# OrvinAppCtl traces too: to a file of its own, so that it does not start the agent's
# file anew.
shutdown_agent() {
    reg_add "$TRACE_KEY" /v DebugFile /d "$(winpath "$WORK/appctl-trace.txt")"
    "$WINE_RUN" "$APPCTL" shutdown 2 </dev/null >"$WORK/appctl.out" 2>&1 || fail "OrvinAppCtl shutdown 2 failed"
    reg_add "$TRACE_KEY" /v DebugFile /d "$(winpath "$WORK/trace.txt")"
}

# probe NAME ARGS...: DialogProbe.exe looks at the agent's dialogs; its lines in
# $WORK/NAME.out. Fails the test when it fails.
probe() {
    local name=$1
    shift
    "$WINE_RUN" "$PROBE_DIALOG" "$@" </dev/null >"$WORK/$name.out" 2>"$WORK/$name.err" ||
        fail "DialogProbe $* failed: $(cat "$WORK/$name.err")"
}

# wait_audio FILE BYTES [SECONDS]: until the recording FILE (in $RECORDINGS) holds BYTES of
# audio after its header.
wait_audio() {
    local file=$RECORDINGS/$1 deadline=$((SECONDS + ${3:-30}))
    until [ -f "$file" ] && [ "$(stat -c %s "$file")" -ge $((44 + $2)) ]; do
        [ $SECONDS -lt $deadline ] || fail "$1 did not get $2 bytes of audio within ${3:-30} s"
        sleep 0.1
    done
}

# newest_recording: the name of the file recorded last.
newest_recording() {
    recordings | tail -1
}

# start_agent NAME: the agent, its trace in $WORK/NAME.txt (each run a file of its own).
start_agent() {
    reg_add "$TRACE_KEY" /v DebugFile /d "$(winpath "$WORK/$1.txt")"
    start "$1" "$AGENT"
}

# agent_ready: the stand-ins have met the agent just started: it greeted the service,
# attached, registered with the recorder driver, and the interface knows its window.
agent_ready() {
    sim "wait-agent timeout=30000"
    sim "expect AGENT_EVENT NotifyAgentStatus info=1 timeout=10000"
    sim "rec-expect-register timeout=20000"
    ui_do "find-agent 20000"
    ui_do "alive"
}

# start_recording: the interface starts a recording; the service, the driver and the
# interface all hear of it.
start_recording() {
    ui_do "start"
    sim "expect AGENT_EVENT NotifyAgentStatus info=8"
    sim "rec-expect-channels VCLCTRL,VCLOG"
    ui_do "expect-notify started"
}

# hex_word N: N as 4 little-endian bytes in hex.
hex_word() {
    printf '%02x%02x%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255))
}

# record_hex CHANNEL VALID LENGTH PAYLOAD-HEX: one driver record in hex (the name in 8
# bytes, the valid word at 8, the payload length at 20, the payload at 40), for rec-raw;
# LENGTH need not be the payload's.
record_hex() {
    local name
    name=$(printf '%s' "$1" | od -An -tx1 | tr -d ' \n')
    while [ ${#name} -lt 16 ]; do
        name+=00
    done
    printf '%s%s%s%s%s%s' "$name" "$(hex_word "$2")" 0000000000000000 "$(hex_word "$3")" \
        00000000000000000000000000000000 "$4"
}
