#!/usr/bin/env bash
# The setup's and the uninstaller's pages, clicked through as a user does: a new
# installation offers the folder and the softphone page with Skype chosen; EyeBeam is
# chosen; the PIN page refuses 1234, takes 2580; the finish page starts the agent. Run again
# over type 9 (the answering machine's second variant) and a weak PIN, the setup skips the
# folder, shows the answering machine chosen, keeps the record, takes a new PIN; it ends
# the agent and starts it again itself, so the finish page offers no second start. A
# record selecting nothing shows nothing chosen and stays. The uninstaller's page
# removes the settings when its box is ticked.
source "$(dirname "$0")/installer-lib.sh"
fresh_prefix
SETUP_TITLE="OrvinAgent Setup"
UNINSTALL_TITLE="OrvinAgent Uninstall"

# page NAME ARGS...: SetupProbe.exe; fails the test when it fails.
page() {
    local name=$1
    shift
    "$WINE_RUN" "$SETUP_PROBE" "$@" </dev/null >"$WORK/$name.out" 2>"$WORK/$name.err" ||
        fail "SetupProbe $* failed: $(cat "$WORK/$name.err")"
}

# pin NAME DIGITS: DIGITS typed twice on the PIN page, the last before the installation.
pin() {
    page "$1-type" type "$SETUP_TITLE" "&PIN:" "$2"
    page "$1-again" type "$SETUP_TITLE" "&Again:" "$2"
    page "$1-install" click "$SETUP_TITLE" "&Install"
}

start setup "$SETUP"
page welcome wait "$SETUP_TITLE" "&Next >"
page next1 click "$SETUP_TITLE" "&Next >"
page folder wait "$SETUP_TITLE" 'C:\Program Files\Orvin\VoipAdapter'
page next2 click "$SETUP_TITLE" "&Next >"
page softphone wait "$SETUP_TITLE" "&EyeBeam"
page skype checked "$SETUP_TITLE" "&Skype"
expect_value skype.out checked 1
page eyebeam click "$SETUP_TITLE" "&EyeBeam"
page next3 click "$SETUP_TITLE" "&Next >"
page pin-page wait "$SETUP_TITLE" "&PIN:"
pin run 1234
page refused wait "$SETUP_TITLE" "This PIN is refused: its digits run up or down in order."
page refused-ok click "$SETUP_TITLE" "OK"
pin good 2580
page finish wait "$SETUP_TITLE" "&Finish" 120000
page run checked "$SETUP_TITLE" "Start OrvinAgent now"
expect_value run.out checked 1
page done click "$SETUP_TITLE" "&Finish"
expect_status setup 0 30
# Skype's record turned into EyeBeam's, Skype left available (0x40c00000).
expect_softphone 4 0000c04019000000
pin_is 2580
deadline=$((SECONDS + 30))
until [ "$(agent_running)" = 1 ]; do
    [ $SECONDS -lt $deadline ] || fail "the finish page did not start the agent"
    sleep 0.2
done

# Over the installation, with the agent running: the answering machine's second variant
# (0x00003000) and a PIN too easy to guess.
reg_add "HKLM\\$ROOT\\Config\\General" /v SoftPhoneType /t REG_BINARY /d 0030000035000000
reg_add "HKLM\\$ROOT\\Config\\IVR" /v Pin /d 1111
start setup-again "$SETUP"
page welcome-again wait "$SETUP_TITLE" "&Next >"
page next4 click "$SETUP_TITLE" "&Next >"
page softphone-again wait "$SETUP_TITLE" "&EyeBeam"
page answering-machine checked "$SETUP_TITLE" "&No softphone: the answering machine only"
expect_value answering-machine.out checked 1
page next5 click "$SETUP_TITLE" "&Next >"
page weak wait "$SETUP_TITLE" "The PIN set now is too easy to guess and will be removed. Type a new one \
twice, or leave both fields empty to keep remote access closed."
pin new 1357
page finish-again wait "$SETUP_TITLE" "&Finish" 120000
if "$WINE_RUN" "$SETUP_PROBE" checked "$SETUP_TITLE" "Start OrvinAgent now" </dev/null >"$WORK/run-again.out" 2>&1; then
    fail "the finish page offers to start the agent the setup has started again"
fi
page done-again click "$SETUP_TITLE" "&Finish"
expect_status setup-again 0 30
expect_softphone 9 0030000035000000
pin_is 1357
[ "$(agent_running)" = 1 ] || fail "the agent does not run after the setup"

# A record that selects no softphone (Skype only available, 0x40000000): none is shown
# chosen, and clicking through keeps it, and the PIN.
reg_add "HKLM\\$ROOT\\Config\\General" /v SoftPhoneType /t REG_BINARY /d 00000040ad000000
start setup-third "$SETUP"
page welcome-third wait "$SETUP_TITLE" "&Next >"
page next6 click "$SETUP_TITLE" "&Next >"
page softphone-third wait "$SETUP_TITLE" "&EyeBeam"
for radio in "&Skype" "&QQ" "&ThinkIt" "&EyeBeam" "Tel&Tel" "&No softphone: the answering machine only"; do
    page none-chosen checked "$SETUP_TITLE" "$radio"
    expect_value none-chosen.out checked 0
done
page next7 click "$SETUP_TITLE" "&Next >"
page kept wait "$SETUP_TITLE" "A PIN is set. Leave both fields empty to keep it, or type a new one twice."
page install-third click "$SETUP_TITLE" "&Install"
page finish-third wait "$SETUP_TITLE" "&Finish" 120000
page done-third click "$SETUP_TITLE" "&Finish"
expect_status setup-third 0 30
"$WINE_RUN" "$PROBE" softphone "$ROOT" </dev/null | tr -d '\r' >"$WORK/none.txt"
expect_line none.txt 'record=00000040ad000000'
expect_line none.txt 'type=11'
pin_is 1357

# The uninstaller, its box ticked: it ends the agent and takes the settings too.
start uninstall "$INSTALL_DIR/Uninstall.exe"
page uninstall-page wait "$UNINSTALL_TITLE" "&Uninstall"
page tick click "$UNINSTALL_TITLE" \
    "Also remove the settings: the configuration and the trace settings in the registry"
page uninstall-click click "$UNINSTALL_TITLE" "&Uninstall"
page closing wait "$UNINSTALL_TITLE" "&Close" 120000
page close click "$UNINSTALL_TITLE" "&Close"
page gone gone "$UNINSTALL_TITLE"
expect_status uninstall 0 30
[ "$(agent_running)" = 0 ] || fail "the agent still runs after the uninstaller"
expect_no_program_files
expect_no_key "$UNINSTALL"
expect_no_key "$ROOT"
expect_no_key "$TRACE_KEY"
echo "PASS"
