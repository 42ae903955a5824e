# Sourced by the IVR's system-test drivers: the agent's helpers (agent-lib.sh), the private
# sound devices (pulse-lib.sh), an installation folder holding the default voice menus,
# the IVR's registry values, the capture feeder and the service's IVR control records.
source "$(dirname "${BASH_SOURCE[0]}")/../../agent/system/agent-lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../../lib/pulse-lib.sh"

IVR_HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
SOURCE_DIR="$(cd "$IVR_HERE/../../.." && pwd)"
DTMF="$BUILD_DIR/tools/OrvinDtmf/OrvinDtmf.exe"
MAKE_KEYS="$SOURCE_DIR/tests/audio/dtmf/make_key_wav.py"
use_work "$BUILD_DIR/Testing/ivr-system/$(basename "$0" .sh)"

# ivr_install: the installation folder $INSTALL with the English voice menus, the agent's
# registry (answering-machine client, UI off) with the IVR values given as NAME=VALUE
# (numbers are DWORDs), and the trace in $WORK/trace.txt.
ivr_install() {
    INSTALL="$WORK/install"
    LANG_DIR="$INSTALL/IVR/English"
    mkdir -p "$INSTALL/IVR"
    cp -r "$SOURCE_DIR/data/IVR/English" "$INSTALL/IVR/"
    agent_registry
    reg_add "$ROOT_KEY\\Config\\UI" /v Enable /t REG_DWORD /d 0
    reg_add "$ROOT_KEY" /v SoftwareInstallationFolder /d "$(winpath "$INSTALL")"
    reg_add "$ROOT_KEY\\Config\\IVR" /v SupportedLanguages /d English
    reg_add "$ROOT_KEY\\Config\\IVR" /v VoiceMessageWaiting /t REG_DWORD /d 0
    local setting name value
    for setting in "$@"; do
        name=${setting%%=*} value=${setting#*=}
        case $name in
        Pin | UserDefinedLanguage) reg_add "$ROOT_KEY\\Config\\IVR" /v "$name" /d "$value" ;;
        PstnAdmin) reg_add "$ROOT_KEY\\Config\\IVR\\Pstn" /v EnableAdminMode /t REG_DWORD /d "$value" ;;
        VoipAdmin) reg_add "$ROOT_KEY\\Config\\IVR\\Voip" /v EnableAdminMode /t REG_DWORD /d "$value" ;;
        *) reg_add "$ROOT_KEY\\Config\\IVR" /v "$name" /t REG_DWORD /d "$value" ;;
        esac
    done
}

# registry_dword KEY NAME: the DWORD's value in decimal (fails when it is missing).
registry_dword() {
    local line
    line=$("$WINE_RUN" reg query "$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' | grep -F "$2") ||
        fail "no value $2 under $1"
    printf '%d\n' "$(awk '{print $3}' <<<"$line")"
}

# feed_start: sound into the capture device from now on (silence, and the files queued
# with feed); the feeder ends with the driver.
feed_start() {
    mkdir -p "$WORK/feed"
    python3 "$SOURCE_DIR/tools/feed_capture.py" "$CAPTURE_FIFO" "$WORK/feed" 2>"$WORK/feeder.err" &
    STARTED[feeder]=$!
}

# feed NAME KEYS [PAUSE_MS]: key tones KEYS (100 ms each, 150 ms apart) into the capture
# device after PAUSE_MS of silence (default 300); returns once queued. feed_wait NAME:
# until they have all been fed.
feed() {
    local name=$1 keys=$2 pause=${3:-300}
    python3 - "$WORK/$name-part.wav" "$pause" <<'PY'
import sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
    w.writeframes(b"\0\0" * (8 * int(sys.argv[2])))
PY
    python3 "$MAKE_KEYS" "$WORK/$name-keys.wav" "$keys" --on 100 --off 150 --amp 6000 >/dev/null
    sox "$WORK/$name-part.wav" "$WORK/$name-keys.wav" "$WORK/$name.wav"
    cp "$WORK/$name.wav" "$WORK/feed/$name.tmp" && mv "$WORK/feed/$name.tmp" "$WORK/feed/$name.wav"
}
feed_wait() {
    local deadline=$((SECONDS + 30))
    until [ -f "$WORK/feed/$1.done" ]; do
        [ $SECONDS -lt $deadline ] || fail "the feeder did not play $1"
        sleep 0.1
    done
}

# buf1 ID [WORD...] [+TEXT]: Buffer1 as the stand-in's TEXT: 32-bit little-endian words,
# then the characters of TEXT.
buf1() {
    local text="" word i
    for word in "$@"; do
        if [[ $word == +* ]]; then
            text+=${word#+}
            continue
        fi
        for i in 0 1 2 3; do
            text+=$(printf '\\x%02x' $(((word >> (8 * i)) & 255)))
        done
    done
    printf '"%s"' "$text"
}

# wtext PATH: the Windows path as the stand-in's quoted TEXT (backslashes escaped).
wtext() {
    local path
    path=$(winpath "$1")
    printf '"%s"' "${path//\\/\\\\}"
}

# keys_in FILE: the keys OrvinDtmf hears in a WAV file, as one word.
keys_in() {
    "$WINE_RUN" "$DTMF" "$(winpath "$1")" </dev/null 2>/dev/null | tr -d '\r' | awk '{printf "%s", $NF}'
}

# playback_keys NAME: the keys heard on the playback device in $WORK/NAME.raw.
playback_keys() {
    sox -t raw -r 8000 -e signed -b 16 -c 1 "$WORK/$1.raw" "$WORK/$1.wav"
    keys_in "$WORK/$1.wav"
}

# wait_count FILE TEXT N SECONDS: until FILE holds TEXT at least N times.
wait_count() {
    local deadline=$((SECONDS + $4)) n
    while :; do
        n=$(count_text "$1" "$2")
        [[ $n =~ ^[0-9]+$ ]] && [ "$n" -ge "$3" ] && return 0
        [ $SECONDS -lt $deadline ] || fail "$1 did not get, within $4 s, $3 times: $2"
        sleep 0.1
    done
}

# menu_after TEXT: the address of the first menu played after the trace line holding TEXT.
menu_after() {
    tr -d '\r' <"$WORK/trace.txt" | awk -v mark="$1" \
        'index($0, mark) { found = 1 } found && /CVoiceMenu::Play 0x/ { print $NF; exit }'
}

# shutdown_agent: the application manager's shutdown command, as an installer sends it;
# the agent must end. OrvinAppCtl traces too, and would start the agent's file afresh.
shutdown_agent() {
    reg_add "$TRACE_KEY" /v DebugFile /d "$(winpath "$WORK/appctl-trace.txt")"
    "$WINE_RUN" "$APPCTL" shutdown 2 </dev/null >"$WORK/appctl.out" 2>&1 || fail "OrvinAppCtl shutdown 2 failed"
    expect_status agent 0 30
}
