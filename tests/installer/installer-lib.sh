# Sourced by the setup's test drivers: the common helpers (tests/lib/systest-lib.sh), a
# fresh Wine prefix for each driver, the setup and the uninstaller run as an
# administrator runs them, the registry as the setup left it (InstallProbe.exe), and the
# adapter stand-in fed line by line.
#
# Each driver gets its own prefix: a copy of the template that the fixture
# installer.prefix made once for the test run (making one costs about 10 s, copying it 2),
# with a wine server of its own. Nothing a driver does reaches another test's programs,
# pipes or registry; the prefix goes at the end, however the driver ends.
source "$(dirname "${BASH_SOURCE[0]}")/../lib/systest-lib.sh"
use_work "$BUILD_DIR/Testing/installer/$(basename "$0" .sh)"

SETUP="$BUILD_DIR/OrvinAgentSetup.exe"
PROBE="$BUILD_DIR/tests/installer/InstallProbe.exe"
SETUP_PROBE="$BUILD_DIR/tests/installer/SetupProbe.exe"
SIM="$BUILD_DIR/tools/OrvinAdapterSim/OrvinAdapterSim.exe"
TEMPLATE="$BUILD_DIR/Testing/installer/prefix-template"
SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# What the setup installs, as the machine and as Windows name it.
ROOT='SOFTWARE\Orvin\VoipAdapter'
UNINSTALL='Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvinAgent'
RUN_KEY='Software\Microsoft\Windows\CurrentVersion\Run'
TRACE_KEY='SOFTWARE\Velcora\Quendo'
INSTALL_WIN='C:\Program Files\Orvin\VoipAdapter'

[ -f "$SETUP" ] || fail "no $SETUP: the build makes it"

# fresh_prefix: this driver's own prefix, its wine server started; INSTALL_DIR is where
# the setup installs, PREFIX the prefix.
fresh_prefix() {
    [ -f "$TEMPLATE/.orvin-prefix-v2" ] || fail "no template prefix $TEMPLATE (the fixture installer.prefix makes it)"
    PREFIX="$WORK/prefix"
    at_exit remove_prefix
    cp -a "$TEMPLATE" "$PREFIX"
    export ORVIN_WINEPREFIX=$PREFIX
    "$WINE_RUN" --start
    INSTALL_DIR="$PREFIX/drive_c/Program Files/Orvin/VoipAdapter"
}

remove_prefix() {
    "$WINE_RUN" --stop
    timeout 30 env WINEPREFIX="$PREFIX" wineserver -w || true
    rm -rf "$PREFIX" "$PREFIX.lock"
}

# setup NAME ARGS...: the setup, run to its end (STATUS its exit status); its details in
# $WORK/NAME.log (/LOG=).
setup() {
    local name=$1
    shift
    run "$name" 180 "$SETUP" "/LOG=$(winpath "$WORK/$name.log")" "$@"
    [ ! -f "$WORK/$name.log" ] || sed -i 's/\r$//' "$WORK/$name.log"
}

# expect_setup NAME ARGS...: the setup ends with status 0.
expect_setup() {
    setup "$@"
    [ "$STATUS" = 0 ] || fail "OrvinAgentSetup.exe ${*:2} exited with $STATUS"
}

# quiet_uninstall NAME [OPTIONS...]: the uninstaller run from its QuietUninstallString
# (OPTIONS before its folder) to its end: STATUS its exit status, details in $WORK/NAME.log.
quiet_uninstall() {
    local name=$1 command
    shift
    reg_tree "$name-entry.txt" "$UNINSTALL"
    command=$(value_of "$name-entry.txt" QuietUninstallString)
    [ "$command" = "sz:\"$INSTALL_WIN\\Uninstall.exe\" /S _?=$INSTALL_WIN" ] ||
        fail "QuietUninstallString is '$command'"
    command="\"$INSTALL_WIN\\Uninstall.exe\" /S /LOG=$(winpath "$WORK/$name.log") ${*:+$* }_?=$INSTALL_WIN"
    run "$name" 180 "$PROBE" run "$command"
    [ ! -f "$WORK/$name.log" ] || sed -i 's/\r$//' "$WORK/$name.log"
}

# uninstall [OPTIONS...]: quiet_uninstall ends with status 0, and the list entry is gone at
# once; Uninstall.exe itself goes as soon as the uninstaller has ended.
uninstall() {
    quiet_uninstall uninstall "$@"
    [ "$STATUS" = 0 ] || fail "Uninstall.exe $* exited with $STATUS: $(cat "$WORK/uninstall.log" 2>/dev/null)"
    expect_no_key "$UNINSTALL"
    local deadline=$((SECONDS + 30))
    while [ -e "$INSTALL_DIR/Uninstall.exe" ]; do
        [ $SECONDS -lt $deadline ] || fail "Uninstall.exe is still there 30 s after the uninstaller ended"
        sleep 0.2
    done
}

# reg_tree FILE KEY: every value below HKLM\KEY into $WORK/FILE ("path\name=type:value"),
# sorted; fails when the key is missing.
reg_tree() {
    "$WINE_RUN" "$PROBE" tree "$2" </dev/null >"$WORK/$1.raw" 2>"$WORK/probe.err" ||
        fail "HKLM\\$2 is missing: $(cat "$WORK/probe.err")"
    tr -d '\r' <"$WORK/$1.raw" | LC_ALL=C sort >"$WORK/$1"
    rm -f "$WORK/$1.raw"
}

# key_exists KEY: prints 1 or 0.
key_exists() {
    "$WINE_RUN" "$PROBE" exists "$1" </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^exists=//p'
}

# expect_no_key KEY
expect_no_key() {
    [ "$(key_exists "$1")" = 0 ] || fail "HKLM\\$1 is still there"
}

# expect_softphone TYPE [RECORD-HEX]: the agent's start-up reads the record below the
# registry root and decodes it to TYPE (and the record is RECORD-HEX when given).
expect_softphone() {
    "$WINE_RUN" "$PROBE" softphone "$ROOT" </dev/null >"$WORK/softphone.out" 2>&1 ||
        fail "InstallProbe softphone failed: $(cat "$WORK/softphone.out")"
    expect_value softphone.out valid 1
    expect_value softphone.out type "$1"
    [ -z "${2:-}" ] || expect_value softphone.out record "$2"
}

# same_file INSTALLED SOURCE: the installed file (below INSTALL_DIR) is byte for byte the
# build's or the tree's.
same_file() {
    [ -f "$INSTALL_DIR/$1" ] || fail "$1 was not installed"
    cmp -s "$INSTALL_DIR/$1" "$2" || fail "$1 differs from $2"
}

# expect_program_files: every file the setup installs, as built or as in data/.
expect_program_files() {
    local f
    same_file OrvinAgent.exe "$BUILD_DIR/src/agent/OrvinAgent.exe"
    same_file OrvinSettings.exe "$BUILD_DIR/src/settings/OrvinSettings.exe"
    same_file OrvinAppCtl.exe "$BUILD_DIR/tools/OrvinAppCtl/OrvinAppCtl.exe"
    same_file OrvinDtmf.exe "$BUILD_DIR/tools/OrvinDtmf/OrvinDtmf.exe"
    same_file zuvoiplng.cab "$SOURCE_DIR/data/zuvoiplng.cab"
    for f in "$SOURCE_DIR"/data/IVR/*/*; do
        same_file "IVR/$(basename "$(dirname "$f")")/$(basename "$f")" "$f"
    done
    [ -f "$INSTALL_DIR/Uninstall.exe" ] || fail "no Uninstall.exe"
}

# expect_no_program_files: none of them is left.
expect_no_program_files() {
    local f
    for f in OrvinAgent.exe OrvinSettings.exe OrvinAppCtl.exe OrvinDtmf.exe zuvoiplng.cab Uninstall.exe; do
        [ ! -e "$INSTALL_DIR/$f" ] || fail "$f is still installed"
    done
    for f in "$SOURCE_DIR"/data/IVR/*/*; do
        f="IVR/$(basename "$(dirname "$f")")/$(basename "$f")"
        [ ! -e "$INSTALL_DIR/$f" ] || fail "$f is still installed"
    done
}

# user_files: what a user of the agent has made: a voice message, a greeting, a call
# recording in a folder of the installation (Recorder\Directory), a copy of each in $WORK.
user_files() {
    mkdir -p "$INSTALL_DIR/IVR/VoiceMail" "$INSTALL_DIR/Recordings" "$WORK/kept"
    head -c 20044 /dev/urandom >"$INSTALL_DIR/IVR/VoiceMail/vm20260101120000.wav"
    head -c 12044 /dev/urandom >"$INSTALL_DIR/IVR/English/UserAMGreeting.wav"
    head -c 30044 /dev/urandom >"$INSTALL_DIR/Recordings/2026_1_1__12_00_00.wav"
    cp "$INSTALL_DIR/IVR/VoiceMail/vm20260101120000.wav" "$INSTALL_DIR/IVR/English/UserAMGreeting.wav" \
        "$INSTALL_DIR/Recordings/2026_1_1__12_00_00.wav" "$WORK/kept/"
    reg_add "HKLM\\$ROOT\\Recorder" /v Directory /d "$INSTALL_WIN\\Recordings"
}

# expect_user_files: all three are there as they were.
expect_user_files() {
    local f
    for f in IVR/VoiceMail/vm20260101120000.wav IVR/English/UserAMGreeting.wav Recordings/2026_1_1__12_00_00.wav; do
        [ -f "$INSTALL_DIR/$f" ] || fail "the user's $f is gone"
        cmp -s "$INSTALL_DIR/$f" "$WORK/kept/$(basename "$f")" || fail "the user's $f has changed"
    done
}

# users_read KEY...: the keys grant users reading, administrators all, as Windows'
# inheritance does below HKLM\SOFTWARE (Wine gives a new key no access list).
users_read() {
    for key in "$@"; do
        "$WINE_RUN" "$PROBE" key-dacl "$key" 'D:(A;;KR;;;BU)(A;;KA;;;BA)(A;;KA;;;SY)' </dev/null || fail "no access list for $key"
    done
}

# access_line FOLDER [USERS]: the line the setup's details give for the access list it set
# on FOLDER: Program Files' entries (read here), then USERS' entries.
access_line() {
    local program
    program=$("$WINE_RUN" "$PROBE" dacl 'C:\Program Files' </dev/null | tr -d '\r' | sed -n 's/^dacl=D:[^(]*//p')
    [ -n "$program" ] || fail "no access list for C:\\Program Files"
    echo "$1: O:BAD:P$program${2:-}"
}

# What users may do in the folders of their files: add files, and change the files there.
USERS_ADD_FILES='(A;;0x2;;;BU)(A;OIIO;0x1301bf;;;BU)'

reg_add() {
    "$WINE_RUN" reg add "$@" /f </dev/null >/dev/null 2>&1 || fail "reg add $*"
}

# ---- The adapter stand-in, serving the installation's registry root as adapter 0's
# software key, fed line by line from a fifo; each line is waited for until its log says
# it is done.
SIM_FD=
SIM_LINE=0

start_service() {
    mkfifo "$WORK/service.in"
    INPUT="$WORK/service.in" start service "$SIM" --log "$(winpath "$WORK/service.log")" --key0 "$ROOT" \
        --interactive
    exec {SIM_FD}>"$WORK/service.in"
    wait_text service.log "] serving " 30
}

# sim COMMAND [SECONDS]: the stand-in runs COMMAND; returns once it is done.
sim() {
    printf '%s\n' "$1" >&"$SIM_FD"
    SIM_LINE=$((SIM_LINE + 1))
    local deadline=$((SECONDS + ${2:-60}))
    until grep -qF -- "] line $SIM_LINE done: " "$WORK/service.log" 2>/dev/null; do
        if grep -qF -- "ERROR line $SIM_LINE: " "$WORK/service.log" 2>/dev/null; then
            fail "service: $(grep -F -- "ERROR line $SIM_LINE: " "$WORK/service.log" | head -1)"
        fi
        kill -0 "${STARTED[service]}" 2>/dev/null || fail "the stand-in ended before its line $SIM_LINE was done"
        [ $SECONDS -lt $deadline ] || fail "the stand-in did not do its line $SIM_LINE ($1) within ${2:-60} s"
        sleep 0.05
    done
}

# stop_service: its input ends; it must end with status 0 (every line done, and the agent
# kept to the pipe's layout).
stop_service() {
    exec {SIM_FD}>&-
    expect_status service 0 30
}

# start_agent_from_run_value NAME: the agent as Windows starts it at logon, from the Run
# value the setup wrote.
start_agent_from_run_value() {
    reg_tree run.txt "$RUN_KEY"
    local command
    command=$(value_of run.txt OrvinAgent)
    [ "$command" = "sz:\"$INSTALL_WIN\\OrvinAgent.exe\"" ] || fail "the Run value OrvinAgent is '$command'"
    command=${command#sz:\"}
    start "$1" "${command%\"}"
}

# pin_is VALUE: Config\IVR\Pin holds VALUE.
pin_is() {
    reg_tree pin.txt "$ROOT\\Config\\IVR"
    expect_line pin.txt "Pin=sz:$1"
}

# start_stuck_agent: a program in the agent's place in the application manager that does
# not end when asked (the process "stubborn").
start_stuck_agent() {
    start stubborn "$BUILD_DIR/tests/agent/appmanager/AppManPeer.exe" --id 2 --mode ignore --life 150000
    local deadline=$((SECONDS + 20))
    until [ "$(agent_running)" = 1 ]; do
        [ $SECONDS -lt $deadline ] || fail "the stand-in for a stuck agent did not come up"
        sleep 0.2
    done
}

# start_settings: the installed settings program, its windows up.
start_settings() {
    start settings "$INSTALL_DIR/OrvinSettings.exe"
    "$WINE_RUN" "$BUILD_DIR/tests/settings/SettingsProbe.exe" wait "OrvinAgent Settings" 30000 </dev/null \
        >/dev/null 2>&1 || fail "the installed settings program showed no window"
}

# agent_running: prints 1 when the application manager finds the agent (application 2).
agent_running() {
    if "$WINE_RUN" "$INSTALL_DIR/OrvinAppCtl.exe" running 2 </dev/null >/dev/null 2>&1; then
        echo 1
    else
        echo 0
    fi
}
