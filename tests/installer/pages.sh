#!/usr/bin/env bash
# The setup's and the uninstaller's pages, clicked through as a user does: a new
# installation offers the folder and the softphone page with Skype chosen; EyeBeam is
# chosen; the finish page starts the agent. Run again, the setup skips the folder, shows
# EyeBeam chosen, and the answering machine is chosen; it ends the agent and starts it
# again itself, so the finish page offers no second start. The uninstaller's page
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

start setup "$SETUP"
page welcome wait "$SETUP_TITLE" "&Next >"
page next1 click "$SETUP_TITLE" "&Next >"
page folder wait "$SETUP_TITLE" 'C:\Program Files\Orvin\VoipAdapter'
page next2 click "$SETUP_TITLE" "&Next >"
page softphone wait "$SETUP_TITLE" "&EyeBeam"
page skype checked "$SETUP_TITLE" "&Skype"
expect_value skype.out checked 1
page eyebeam click "$SETUP_TITLE" "&EyeBeam"
page install click "$SETUP_TITLE" "&Install"
page finish wait "$SETUP_TITLE" "&Finish" 120000
page run checked "$SETUP_TITLE" "Start OrvinAgent now"
expect_value run.out checked 1
page done click "$SETUP_TITLE" "&Finish"
expect_status setup 0 30
# Skype's record turned into EyeBeam's, Skype left available (0x40c00000).
expect_softphone 4 0000c04019000000
deadline=$((SECONDS + 30))
until [ "$(agent_running)" = 1 ]; do
    [ $SECONDS -lt $deadline ] || fail "the finish page did not start the agent"
    sleep 0.2
done

# Over the installation, with the agent running.
start setup-again "$SETUP"
page welcome-again wait "$SETUP_TITLE" "&Next >"
page next3 click "$SETUP_TITLE" "&Next >"
page softphone-again wait "$SETUP_TITLE" "&EyeBeam"
page eyebeam-chosen checked "$SETUP_TITLE" "&EyeBeam"
expect_value eyebeam-chosen.out checked 1
page answering-machine click "$SETUP_TITLE" "&No softphone: the answering machine only"
page install-again click "$SETUP_TITLE" "&Install"
page finish-again wait "$SETUP_TITLE" "&Finish" 120000
if "$WINE_RUN" "$SETUP_PROBE" checked "$SETUP_TITLE" "Start OrvinAgent now" </dev/null >"$WORK/run-again.out" 2>&1; then
    fail "the finish page offers to start the agent the setup has started again"
fi
page done-again click "$SETUP_TITLE" "&Finish"
expect_status setup-again 0 30
expect_softphone 8 00c0404065000000 # 0x4040c000
[ "$(agent_running)" = 1 ] || fail "the agent does not run after the setup"

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
