#!/usr/bin/env bash
# Runs OrvinAgent on its default installation (the telephone as a Skype handset) against
# the adapter-service stand-in and the Skype stand-in, and shows the traffic as it
# happens: the lines of the agent's event log, with their prefixes.
#
#   scripts/run-agent.sh                         the Skype demo, in this terminal
#   scripts/run-agent.sh --softphone NAME        the demo with that softphone's stand-in:
#                                                skype (the default), eyebeam, qq, teltel or thinkit
#   scripts/run-agent.sh --screenshot FILE.png   the same on a virtual X display, saving a
#                                                picture of the main dialog and the agent's
#                                                icon in the taskbar while it runs
#   scripts/run-agent.sh --answering-machine     the answering-machine client's demo instead
#
# It installs what is missing (Debian 12, as root), builds into BUILD_DIR (default: build),
# makes and starts the build's Wine prefix, imports data/registry/OrvinAgent.reg, installs
# the monitor program and the settings program (the one the tray's Configure starts), then runs the stand-in service with data/demo/demo-service-skype.txt,
# SkypeSim with data/demo/demo-skype.txt and the agent: a contact calls, the telephone rings
# with the caller's number, the handset is lifted, two keys are pressed, the call ends; a
# number is dialled on the telephone; a voicemail is played. Then a call from the line
# reaches the answering machine (data/demo/demo-service-answering-machine.txt): the greeting
# plays on the adapter's playback device, and the caller's message
# (data/demo/caller-message.wav, fed into its capture device in real time) is recorded
# into the installation's IVR\VoiceMail folder, where OrvinDtmf.exe checks its key tones.
# The adapter's sound device is a private PulseAudio server's pair of virtual devices.
# Once both stand-ins' scripts
# have ended with every expectation met it asks the agent about standby (OrvinPowerEvent),
# then shuts it down through the application manager (OrvinAppCtl shutdown 2), as an
# installer would; on Ctrl-C it shuts the agent down the same way.
#
# With --softphone eyebeam or qq the imported SoftPhoneType is replaced by that client's
# record, and the softphone's stand-in (EyeBeamSim, QQSim) plays data/demo/demo-NAME.txt
# beside the service's data/demo/demo-service-NAME.txt.
# With --softphone teltel the imported SoftPhoneType selects TelTel, the agent runs from
# the installation folder with the stand-in TelTelAPI.DLL beside it, and TelTel's control
# program TelTelSim plays data/demo/demo-teltel.txt beside the adapter stand-in's
# data/demo/demo-service-teltel.txt (TelTel becomes ready, a call rings and is answered
# on the handset, the far end hangs up, a number is dialled, TelTel goes and comes back),
# followed by the same answering-machine call; TelTelSim stays until the agent has let the
# library go.
#
# With --softphone thinkit the imported SoftPhoneType selects ThinkIt (type 2), and
# ThinkItSim plays data/demo/demo-thinkit.txt beside the adapter stand-in's
# data/demo/demo-service-thinkit.txt (a contact's call rings at once and then with her
# number, is answered on the handset, keys reach the far end as "set call N dtmf K", the
# handset hangs up; a second call is ended by the far end; 555 is dialled on VoIP and, on
# the PSTN line, a speed dial that is nobody's is refused and bob's is called; ThinkIt goes
# and comes back), followed by the same answering-machine call.
#
# With --answering-machine the imported SoftPhoneType is replaced by the answering-machine
# client's record and the adapter stand-in alone plays data/demo/demo-service.txt (the
# adapter attaches, the handset is lifted and put down, the line switches, a call rings,
# the cables are swapped); the standby query follows its last message.
#
# What it started is stopped when it ends. Exit status 0 when the demo ran through.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    sed -n '6,11s/^# \{0,1\}//p' "$0"
    exit "$1"
}

SCREENSHOT=""
SOFTPHONE=skype
while [ $# -gt 0 ]; do
    case "$1" in
    --screenshot)
        [ $# -ge 2 ] || usage 2 >&2
        SCREENSHOT=$2
        shift 2
        ;;
    --screenshot=*)
        SCREENSHOT=${1#--screenshot=}
        shift
        ;;
    --softphone)
        [ $# -ge 2 ] || usage 2 >&2
        SOFTPHONE=$2
        shift 2
        ;;
    --softphone=*)
        SOFTPHONE=${1#--softphone=}
        shift
        ;;
    --answering-machine)
        SOFTPHONE=answering-machine
        shift
        ;;
    -h | --help) usage 0 ;;
    *)
        echo "run-agent.sh: unknown argument: $1" >&2
        usage 2 >&2
        ;;
    esac
done
case "$SOFTPHONE" in
skype | eyebeam | qq | teltel | thinkit | answering-machine) ;;
*)
    echo "run-agent.sh: unknown softphone: $SOFTPHONE (skype, eyebeam, qq, teltel, thinkit)" >&2
    usage 2 >&2
    ;;
esac
if [ -n "$SCREENSHOT" ]; then
    [[ $SCREENSHOT == /* ]] || SCREENSHOT="$PWD/$SCREENSHOT"
    mkdir -p "$(dirname "$SCREENSHOT")"
fi

# ---- Install and build what the demo runs

scripts/install-deps.sh
BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" -j 2 --target OrvinAgent OrvinSettings OrvinAdapterSim SkypeSim EyeBeamSim QQSim TelTelSim TelTelAPI ThinkItSim OrvinAppCtl \
      OrvinMonitor OrvinPowerEvent OrvinDtmf

BUILD_DIR=$(cd "$BUILD_DIR" && pwd)
WINE_RUN="$BUILD_DIR/wine-run"
AGENT="$BUILD_DIR/src/agent/OrvinAgent.exe"
SIM="$BUILD_DIR/tools/OrvinAdapterSim/OrvinAdapterSim.exe"
SKYPESIM="$BUILD_DIR/tools/SkypeSim/SkypeSim.exe"
TELTELSIM="$BUILD_DIR/tools/TelTelSim/TelTelSim.exe"
TELTEL_LIBRARY="$BUILD_DIR/tools/TelTelSim/TelTelAPI.DLL"
THINKITSIM="$BUILD_DIR/tools/ThinkItSim/ThinkItSim.exe"
APPCTL="$BUILD_DIR/tools/OrvinAppCtl/OrvinAppCtl.exe"
MONITOR="$BUILD_DIR/tools/OrvinMonitor/OrvinMonitor.exe"
SETTINGS="$BUILD_DIR/src/settings/OrvinSettings.exe"
POWER="$BUILD_DIR/tools/OrvinPowerEvent/OrvinPowerEvent.exe"
DTMF="$BUILD_DIR/tools/OrvinDtmf/OrvinDtmf.exe"
# Each softphone's demo: its stand-in (PHONE names it in the files and messages below:
# PHONE.log ...), the stand-in's script and the adapter stand-in's part, the log line that
# says the stand-in is up and the one to take the screenshot at, and the SoftPhoneType
# record that selects it (as REG_BINARY hex with its CRC-8 check byte; none: the registry
# file's, Skype). A stand-in that stays (PHONE_STAYS=1) ends with the agent.
PHONE=""
PHONE_RECORD=""
PHONE_STAYS=0
case "$SOFTPHONE" in
skype)
    PHONE=skype PHONE_LABEL=SkypeSim PHONE_PROGRAM=$SKYPESIM
    PHONE_SCRIPT="$PWD/data/demo/demo-skype.txt"
    DEMO_SCRIPT="$PWD/data/demo/demo-service-skype.txt"
    PHONE_UP="] window of class " PHONE_SHOT="TX VOICEMAIL 101 STATUS PLAYING"
    ;;
eyebeam)
    PHONE=eyebeam PHONE_LABEL=EyeBeamSim PHONE_PROGRAM="$BUILD_DIR/tools/EyeBeamSim/EyeBeamSim.exe"
    PHONE_SCRIPT="$PWD/data/demo/demo-eyebeam.txt"
    DEMO_SCRIPT="$PWD/data/demo/demo-service-eyebeam.txt"
    PHONE_UP="] window of class " PHONE_SHOT="TX type=0 code=900 info=0"
    PHONE_RECORD=0000c0005f000000 # index 4
    ;;
qq)
    PHONE=qq PHONE_LABEL=QQSim PHONE_PROGRAM="$BUILD_DIR/tools/QQSim/QQSim.exe"
    PHONE_SCRIPT="$PWD/data/demo/demo-qq.txt"
    DEMO_SCRIPT="$PWD/data/demo/demo-service-qq.txt"
    PHONE_UP="] window of class " PHONE_SHOT="RX event=13 1:text:555"
    PHONE_RECORD=0000003055000000 # index 1
    ;;
teltel)
    PHONE=teltel PHONE_LABEL=TelTelSim PHONE_PROGRAM=$TELTELSIM
    PHONE_SCRIPT="$PWD/data/demo/demo-teltel.txt"
    DEMO_SCRIPT="$PWD/data/demo/demo-service-teltel.txt"
    PHONE_UP="] serving " PHONE_SHOT="TX call-start(1001)" PHONE_STAYS=1
    PHONE_RECORD=000c000050000000 # index 10
    ;;
thinkit)
    PHONE=thinkit PHONE_LABEL=ThinkItSim PHONE_PROGRAM=$THINKITSIM
    PHONE_SCRIPT="$PWD/data/demo/demo-thinkit.txt"
    DEMO_SCRIPT="$PWD/data/demo/demo-service-thinkit.txt"
    PHONE_UP="] window of class " PHONE_SHOT="TX CALL 1001 DTMF 5"
    PHONE_RECORD=0000005c93000000 # index 2
    ;;
answering-machine)
    DEMO_SCRIPT="$PWD/data/demo/demo-service.txt"
    PHONE_RECORD=00c00000b8000000 # index 8, variant 0
    ;;
esac
REG_FILE="$PWD/data/registry/OrvinAgent.reg"
WORK="$BUILD_DIR/demo"
ROOT='SOFTWARE\Orvin\VoipAdapter'
TRACE_KEY='HKLM\Software\Velcora\Quendo'
# The switch that lets the agent use a device's stand-in pipe (a value named after the
# device): for tests and this demo only, never set by an installation.
PIPE_SWITCH_KEY='HKLM\SOFTWARE\OrvinTest\DriverPipes'
WINE_ENV=$("$WINE_RUN" --env)   # WINEPREFIX=... WINEDEBUG=...
WINEPREFIX=$(sed -n 's/^WINEPREFIX=\([^ ]*\) .*/\1/p' <<<"$WINE_ENV")
[ -n "$WINEPREFIX" ] || { echo "run-agent.sh: no Wine prefix from $WINE_RUN --env" >&2; exit 1; }
# The folders the registry file names: the trace file's and the installation's.
TRACE="$WINEPREFIX/drive_c/OrvinAgent/OrvinAgent.trace"
INSTALL_DIR="$WINEPREFIX/drive_c/Program Files/Orvin/VoipAdapter"

rm -rf "$WORK"
mkdir -p "$WORK"
if [ -n "$PHONE" ]; then
    # The softphone's session, then the answering-machine call.
    cat "$DEMO_SCRIPT" "$PWD/data/demo/demo-service-answering-machine.txt" >"$WORK/demo-service.txt"
    DEMO_SCRIPT="$WORK/demo-service.txt"
fi

say() {
    printf '==> %s\n' "$*"
}

fail() {
    echo "run-agent.sh: $*" >&2
    exit 1
}

# The Windows form of a path on this machine (Wine's Z: drive is the root).
winpath() {
    printf 'Z:%s' "${1//\//\\}"
}

# wine_cmd PROGRAM ARGS...: sets WINE_CMD to the command that runs a Windows program in the
# build's prefix as wine-run does; on the virtual X display once the screenshot run has one.
DISPLAY_NUM=""
wine_cmd() {
    if [ -n "$DISPLAY_NUM" ]; then
        # shellcheck disable=SC2206 # WINE_ENV is NAME=VALUE words
        WINE_CMD=(env $WINE_ENV WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}" WINEARCH=win64
                  DISPLAY=":$DISPLAY_NUM" wine "$@")
    else
        WINE_CMD=("$WINE_RUN" "$@")
    fi
}
wine_do() {
    wine_cmd "$@"
    "${WINE_CMD[@]}"
}

reg_add() {
    wine_do reg add "$@" /f </dev/null >/dev/null 2>&1
}

# ---- What this script started, and its clean-up (by process id only)

declare -A STARTED=()   # name -> pid of a program still running
EXIT_HOOKS=()           # run by the clean-up (the sound server's end)
at_exit() {
    EXIT_HOOKS+=("$1")
}
SERVER_STARTED=0        # the wine server: stopped at the end
TRACE_MOVED=0           # the trace key points at the tools' file: the registry file's again
TYPE_CHANGED=0          # SoftPhoneType is another softphone's: the registry file's again
DESKTOP_SET=0           # the prefix's X11 virtual desktop: back to the null driver
PIPE_SWITCHED=0         # the recorder driver's stand-in pipe allowed: the switch goes again
MONITOR_NAMED=0         # MonitorExeName set here (the registry file has none): it goes again
XVFB_PID=""
FOLLOWER=""

# start NAME PROGRAM ARGS...: in the background and in a session of its own (a Ctrl-C in
# the terminal is this script's to handle), output in $WORK/NAME.out.
start() {
    local name=$1
    shift
    wine_cmd "$@"
    setsid -w "${WINE_CMD[@]}" </dev/null >"$WORK/$name.out" 2>&1 &
    STARTED[$name]=$!
}

# wait_gone NAME SECONDS: until NAME has ended (its exit status in STATUS); 1 if it still runs.
wait_gone() {
    local name=$1 pid=${STARTED[$1]} deadline=$((SECONDS + $2))
    while kill -0 "$pid" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.2
    done
    STATUS=0
    wait "$pid" || STATUS=$?
    unset "STARTED[$name]"
}

running() {
    [ -n "${STARTED[$1]:-}" ] && kill -0 "${STARTED[$1]}" 2>/dev/null
}

# shutdown_agent: the application manager's shutdown command, as an installer sends it.
# The trace key is machine-wide: OrvinAppCtl traces to a file of its own, so that it does
# not start the agent's file anew.
shutdown_agent() {
    TRACE_MOVED=1
    reg_add "$TRACE_KEY" /v DebugFile /d 'C:\OrvinAgent\OrvinAppCtl.trace' || true
    wine_do "$APPCTL" shutdown 2 </dev/null >"$WORK/appctl.out" 2>&1
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    trap '' INT
    if running agent; then
        say "shutting the agent down (OrvinAppCtl shutdown 2)"
        shutdown_agent || true
        wait_gone agent 30 || true
    fi
    # The stand-ins end by themselves once their scripts are through; a script cut short
    # waits for what no longer comes.
    if running service; then
        wait_gone service 5 || true
    fi
    for name in "${!STARTED[@]}"; do
        # Each was started in a session of its own: its process group, by the group's id.
        kill -9 -- "-${STARTED[$name]}" 2>/dev/null || kill -9 "${STARTED[$name]}" 2>/dev/null || true
        wait "${STARTED[$name]}" 2>/dev/null || true
    done
    if [ -n "$FOLLOWER" ]; then
        sleep 0.5   # the last lines
        kill "$FOLLOWER" 2>/dev/null || true
        wait "$FOLLOWER" 2>/dev/null || true
    fi
    if [ "$TRACE_MOVED" = 1 ] || [ "$TYPE_CHANGED" = 1 ]; then
        wine_do regedit /S "$(winpath "$REG_FILE")" </dev/null >/dev/null 2>&1 || true
    fi
    if [ "$MONITOR_NAMED" = 1 ]; then
        wine_do reg delete "HKLM\\$ROOT" /v MonitorExeName /f </dev/null >/dev/null 2>&1 || true
    fi
    if [ "$PIPE_SWITCHED" = 1 ]; then
        wine_do reg delete "$PIPE_SWITCH_KEY" /v ovrecagentDevice0 /f </dev/null >/dev/null 2>&1 || true
    fi
    if [ "$DESKTOP_SET" = 1 ]; then
        wine_do reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f </dev/null >/dev/null 2>&1 || true
        wine_do reg delete 'HKCU\Software\Wine\Explorer\Desktops' /v shot /f </dev/null >/dev/null 2>&1 || true
        wine_do reg delete 'HKCU\Software\Wine\Explorer\Desktops\shot' /f </dev/null >/dev/null 2>&1 || true
        reg_add 'HKCU\Software\Wine\Drivers' /v Graphics /d null || true
    fi
    local hook
    for hook in "${EXIT_HOOKS[@]}"; do
        "$hook" || true
    done
    if [ "$SERVER_STARTED" = 1 ]; then
        "$WINE_RUN" --stop
    fi
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
    if [ "$status" -ne 0 ]; then
        echo "run-agent.sh: the demo did not run through (status $status); its files are in $WORK" >&2
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'echo; say "interrupted"; exit 130' INT
trap 'exit 143' TERM

# wine_server_running: a wine server serves this prefix (it works in the prefix's server
# folder, named after the prefix's device and inode).
wine_server_running() {
    local name pid
    name=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
    for pid in /proc/[0-9]*; do
        [[ $(readlink "$pid/cwd" 2>/dev/null) == */"$name" ]] && return 0
    done
    return 1
}

# ---- The X display of the screenshot run

if [ -n "$SCREENSHOT" ]; then
    if ! command -v Xvfb >/dev/null || ! command -v import >/dev/null; then
        fail "Xvfb and ImageMagick's import are missing"
    fi
    Xvfb -displayfd 3 -screen 0 900x650x24 -nolisten tcp 3>"$WORK/xvfb.display" >"$WORK/xvfb.out" 2>&1 &
    XVFB_PID=$!
    deadline=$((SECONDS + 15))
    until grep -q '^[0-9]' "$WORK/xvfb.display" 2>/dev/null; do
        kill -0 "$XVFB_PID" 2>/dev/null || fail "Xvfb did not start: $(cat "$WORK/xvfb.out")"
        [ $SECONDS -lt $deadline ] || fail "Xvfb gave no display within 15 s"
        sleep 0.1
    done
    X_DISPLAY=$(head -n 1 "$WORK/xvfb.display")
    say "virtual X display :$X_DISPLAY"
fi

# ---- The Wine prefix and the default installation

if [ -d "$WINEPREFIX" ] && wine_server_running; then
    [ -z "$SCREENSHOT" ] || fail "the prefix's wine server runs already (tests?): stop it first ($WINE_RUN --stop)"
    say "the prefix's wine server is already running: it is used as it is"
else
    say "starting Wine (prefix $WINEPREFIX)"
    SERVER_STARTED=1
    "$WINE_RUN" --start
fi
say "importing data/registry/OrvinAgent.reg"
"$WINE_RUN" regedit /S "$(winpath "$REG_FILE")" </dev/null >/dev/null 2>&1 || fail "regedit could not import $REG_FILE"
say "allowing the agent the recorder driver's stand-in pipe (the adapter stand-in serves it)"
PIPE_SWITCHED=1
reg_add "$PIPE_SWITCH_KEY" /v ovrecagentDevice0 /t REG_DWORD /d 1 || fail "could not set the stand-in pipe's switch"
if [ -n "$PHONE_RECORD" ]; then
    say "selecting the $SOFTPHONE client (SoftPhoneType $PHONE_RECORD)"
    TYPE_CHANGED=1
    reg_add "HKLM\\$ROOT\\Config\\General" /v SoftPhoneType /t REG_BINARY /d "$PHONE_RECORD" ||
        fail "could not set SoftPhoneType"
fi
mkdir -p "$(dirname "$TRACE")" "$INSTALL_DIR"
cp "$MONITOR" "$INSTALL_DIR/OrvinMonitor.exe"
# The settings program beside the agent, as setup installs it: the tray's Configure and a
# double-click on the icon start it.
cp "$SETTINGS" "$INSTALL_DIR/OrvinSettings.exe"
if ! grep -q '"MonitorExeName"' "$REG_FILE"; then
    MONITOR_NAMED=1
    reg_add "HKLM\\$ROOT" /v MonitorExeName /d OrvinSettings || fail "could not set MonitorExeName"
fi
if [ "$SOFTPHONE" = teltel ]; then
    # TelTel's library is looked for in the agent's own folder first: the agent runs from the
    # installation folder, with the stand-in library beside it.
    cp "$AGENT" "$INSTALL_DIR/OrvinAgent.exe"
    cp "$TELTEL_LIBRARY" "$INSTALL_DIR/TelTelAPI.DLL"
    AGENT="$INSTALL_DIR/OrvinAgent.exe"
    remove_installed_agent() {
        rm -f "$INSTALL_DIR/OrvinAgent.exe" "$INSTALL_DIR/TelTelAPI.DLL"
    }
    at_exit remove_installed_agent
fi
rm -f "$TRACE"
# The voice menus, and an empty VoiceMail folder for the messages of this run.
rm -rf "$INSTALL_DIR/IVR"
mkdir -p "$INSTALL_DIR/IVR"
cp -r data/IVR/English "$INSTALL_DIR/IVR/"

# ---- The adapter's sound device: PulseAudio's virtual devices, the capture one fed with
# silence (and the caller's message when the answering machine records)

say "starting the sound devices (a private PulseAudio server)"
source tests/lib/pulse-lib.sh
pulse_start
mkdir -p "$WORK/feed"
python3 tools/feed_capture.py "$CAPTURE_FIFO" "$WORK/feed" 2>"$WORK/feeder.err" &
STARTED[feeder]=$!
record_playback line

if [ -n "$SCREENSHOT" ]; then
    # Wine's X11 driver for this run, in a virtual desktop of the display's size that draws
    # the window frames and a taskbar with the notification area, where the agent's icon
    # shows (the same as "wine explorer /desktop=shot,900x650 PROGRAM"): every program of
    # the run is on it, so that the tools find the agent's windows. The caption buttons
    # want Wine's Marlett font in the prefix.
    MARLETT=/usr/share/wine/fonts/marlett.ttf
    if [ -f "$MARLETT" ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]; then
        cp "$MARLETT" "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
    DESKTOP_SET=1
    reg_add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 || fail "could not switch the prefix to the X11 driver"
    reg_add 'HKCU\Software\Wine\Explorer\Desktops' /v shot /d 900x650 || fail "could not set the virtual desktop"
    reg_add 'HKCU\Software\Wine\Explorer' /v Desktop /d shot || fail "could not set the virtual desktop"
    reg_add 'HKCU\Software\Wine\Explorer\Desktops\shot' /v EnableShell /t REG_DWORD /d 1 ||
        fail "could not give the virtual desktop its taskbar"
    DISPLAY_NUM=$X_DISPLAY
fi

# ---- The traffic as it happens: the event log's lines from the trace file

EVENT_PREFIXES=('[AG]==>' '[SF-->AG]==>' '[AG-->SF]==>' '[SP-->AG]==>' '[AG-->SP]==>' '[SM-->AG]==>' '[AG-->SM]==>')
# Trace lines are "{OrvinAgent} TEXT" with CR LF; the event log's TEXT starts with a prefix.
event_log() {
    local line text prefix
    trap '' INT   # a Ctrl-C leaves the lines of the shutdown to show
    while IFS= read -r line; do
        line=${line%$'\r'}
        [[ $line == "{OrvinAgent} "* ]] || continue
        text=${line#"{OrvinAgent} "}
        for prefix in "${EVENT_PREFIXES[@]}"; do
            if [[ $text == "$prefix"* ]]; then
                printf '    %s\n' "$text"
                break
            fi
        done
    done
}
event_lines() {
    if [ -f "$TRACE" ]; then
        event_log <"$TRACE" | wc -l
    else
        echo 0
    fi
}

# ---- The stand-ins and the agent

# The adapter stand-in has sent the script's Nth message when its log has N "TX" lines.
SENDS=$(grep -cE '^[[:space:]]*send[[:space:]]' "$DEMO_SCRIPT")
sent_count() {
    grep -c '\] TX ' "$WORK/service.log" 2>/dev/null || true
}
# alive: the agent and the stand-ins that are still wanted run.
alive() {
    running agent || fail "the agent ended early (its trace: $TRACE)"
    if [ -n "${STARTED[service]:-}" ] && ! running service; then
        fail "the stand-in service ended early: $(tail -n 3 "$WORK/service.log")"
    fi
    if [ -n "$PHONE" ] && [ -n "${STARTED[$PHONE]:-}" ] && ! running "$PHONE"; then
        fail "$PHONE_LABEL ended early: $(tail -n 3 "$WORK/$PHONE.log")"
    fi
}
# wait_sent N SECONDS: until the adapter stand-in has sent N messages, while all run.
wait_sent() {
    local deadline=$((SECONDS + $2))
    until [ "$(sent_count)" -ge "$1" ]; do
        alive
        [ $SECONDS -lt $deadline ] || fail "the stand-in had not sent message $1 of $SENDS after $2 s"
        sleep 0.1
    done
}
# wait_logged FILE TEXT SECONDS: until FILE (in $WORK) holds TEXT, while all run.
wait_logged() {
    local deadline=$((SECONDS + $3))
    until grep -qF -- "$2" "$WORK/$1" 2>/dev/null; do
        alive
        [ $SECONDS -lt $deadline ] || fail "$1 did not show within $3 s: $2"
        sleep 0.1
    done
}
# wait_scripts SECONDS: until both stand-ins have ended, each with its script's
# expectations met (exit status 0), while the agent runs; a softphone stand-in that stays
# until the agent's end is left to run.
wait_scripts() {
    local deadline=$((SECONDS + $1)) name names=(service)
    local -A label=([service]="the adapter stand-in")
    if [ -n "$PHONE" ] && [ "$PHONE_STAYS" = 0 ]; then
        names+=("$PHONE")
        label[$PHONE]=$PHONE_LABEL
    fi
    while [ -n "${STARTED[service]:-}" ] || { [ "${#names[@]}" = 2 ] && [ -n "${STARTED[$PHONE]:-}" ]; }; do
        for name in "${names[@]}"; do
            if [ -n "${STARTED[$name]:-}" ] && ! running "$name"; then
                wait_gone "$name" 0 || true
                [ "$STATUS" = 0 ] ||
                    fail "${label[$name]}'s script failed (status $STATUS): $(tail -n 3 "$WORK/$name.log")"
                say "${label[$name]}'s script ended: every expectation met"
            fi
        done
        running agent || fail "the agent ended early (its trace: $TRACE)"
        [ $SECONDS -lt $deadline ] || fail "the stand-ins' scripts had not ended after $1 s"
        sleep 0.2
    done
}

say "starting the adapter-service stand-in with ${DEMO_SCRIPT#"$PWD/"}"
start service "$SIM" --quiet --log "$(winpath "$WORK/service.log")" --key0 "$ROOT" "$(winpath "$DEMO_SCRIPT")"
deadline=$((SECONDS + 30))
until grep -qF "] serving " "$WORK/service.log" 2>/dev/null; do
    running service || fail "the stand-in service ended before serving: $(cat "$WORK/service.out")"
    [ $SECONDS -lt $deadline ] || fail "the stand-in service did not start serving within 30 s"
    sleep 0.1
done

if [ -n "$PHONE" ]; then
    say "starting the $SOFTPHONE stand-in ($PHONE_LABEL) with ${PHONE_SCRIPT#"$PWD/"}"
    start "$PHONE" "$PHONE_PROGRAM" --quiet --log "$(winpath "$WORK/$PHONE.log")" "$(winpath "$PHONE_SCRIPT")"
    deadline=$((SECONDS + 30))
    until grep -qF "$PHONE_UP" "$WORK/$PHONE.log" 2>/dev/null; do
        running "$PHONE" || fail "$PHONE_LABEL ended before it was up: $(cat "$WORK/$PHONE.out")"
        [ $SECONDS -lt $deadline ] || fail "$PHONE_LABEL was not up within 30 s"
        sleep 0.1
    done

    # The caller speaks once the answering machine has begun to record.
    (
        until grep -qF "RX IMM MSG_TYPE_IVR_EVENT IVR_SET_TIMEOUT_FOR_LEAVE_MESSAGE_MODE" "$WORK/service.log" \
            2>/dev/null; do
            sleep 0.2
        done
        cp data/demo/caller-message.wav "$WORK/feed/caller.tmp"
        mv "$WORK/feed/caller.tmp" "$WORK/feed/caller.wav"
    ) &
    STARTED[caller]=$!
fi

say "starting OrvinAgent.exe; its event log:"
tail -n +1 -F "$TRACE" 2>/dev/null > >(event_log) &
FOLLOWER=$!
start agent "$AGENT"

if [ -n "$PHONE" ]; then
    if [ -n "$SCREENSHOT" ]; then
        # Well into the session (Skype: while the voicemail plays).
        wait_logged "$PHONE.log" "$PHONE_SHOT" 180
        sleep 1.5
        DISPLAY=":$DISPLAY_NUM" import -window root "$SCREENSHOT" || fail "import could not grab the display"
        say "screenshot saved: $SCREENSHOT ($(event_lines) event-log lines)"
    fi
    wait_scripts 180
    sleep 1.5
else
    if [ -n "$SCREENSHOT" ]; then
        # In the pause before the demo's last message (the jack swap, whose box would cover
        # the event log).
        wait_sent $((SENDS - 1)) 120
        sleep 1
        DISPLAY=":$DISPLAY_NUM" import -window root "$SCREENSHOT" || fail "import could not grab the display"
        say "screenshot saved: $SCREENSHOT ($(event_lines) event-log lines)"
    fi
    wait_sent "$SENDS" 120
    sleep 1.5
fi

say "standby query (OrvinPowerEvent query-suspend):"
wine_do "$POWER" query-suspend --title MessageOnlyWindowTitle --process OrvinAgent.exe \
    </dev/null >"$WORK/power.out" 2>&1 || fail "no answer to the standby query: $(cat "$WORK/power.out")"
sed 's/\r$//; s/^/    /' "$WORK/power.out"
grep -q 'denied 0' "$WORK/power.out" || fail "the agent refused standby without a call or call forwarding"
sleep 1

say "shutting the agent down (OrvinAppCtl shutdown 2)"
shutdown_agent || fail "OrvinAppCtl shutdown 2 failed: $(cat "$WORK/appctl.out")"
wait_gone agent 30 || fail "the agent still runs 30 s after its shutdown command"
if [ -n "$PHONE" ]; then
    if [ "$PHONE_STAYS" = 1 ]; then
        wait_gone "$PHONE" 30 || fail "$PHONE_LABEL still runs 30 s after the agent's end"
        [ "$STATUS" = 0 ] || fail "$PHONE_LABEL's script failed (status $STATUS): $(tail -n 3 "$WORK/$PHONE.log")"
        say "$PHONE_LABEL's script ended: every expectation met"
    fi
    sleep 0.5
    shopt -s nullglob
    messages=("$INSTALL_DIR"/IVR/VoiceMail/vm*.wav)
    [ ${#messages[@]} = 1 ] || fail "the answering machine recorded ${#messages[@]} messages, not 1"
    keys=$(wine_do "$DTMF" "$(winpath "${messages[0]}")" </dev/null 2>/dev/null | tr -d '\r' | tr -d '\n')
    say "the caller's message: ${messages[0]} ($(soxi -D "${messages[0]}") s; OrvinDtmf.exe hears the keys $keys)"
    [ "$keys" = "123#" ] || fail "the recorded message does not hold the caller's keys 123#"
    kill -INT "${STARTED[line]}" 2>/dev/null || true
    wait_gone line 5 || true
    sox -t raw -r 8000 -e signed -b 16 -c 1 "$WORK/line.raw" "$WORK/line.wav" 2>/dev/null &&
        say "what the caller heard on the line (greeting, beep): $WORK/line.wav"
    say "the demo ran through: both stand-ins' scripts met every expectation" \
        "(the adapter stand-in received $(grep -c '\] RX ' "$WORK/service.log") messages and sent $(sent_count);" \
        "$PHONE_LABEL received $(grep -c '\] RX ' "$WORK/$PHONE.log") commands or calls and sent" \
        "$(grep -c '\] TX ' "$WORK/$PHONE.log") notifications or callbacks; $(event_lines) event-log lines;" \
        "files in $WORK)"
else
    wait_gone service 30 || fail "the stand-in service still runs 30 s after the agent's end"
    [ "$STATUS" = 0 ] || fail "the stand-in's script failed (status $STATUS): $(tail -n 3 "$WORK/service.log")"
    sleep 0.5
    say "the demo ran through: the stand-in's script met every expectation" \
        "(it received $(grep -c '\] RX ' "$WORK/service.log") messages and sent $(sent_count);" \
        "$(event_lines) event-log lines; files in $WORK)"
fi
