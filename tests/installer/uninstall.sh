#!/usr/bin/env bash
# The uninstaller run as the list of installed programs runs it, silently, while the
# agent and the settings program run: both end; the programs, the voice menus, the
# Start-menu entries, the Run value, the list entry and the trace file are gone; the
# user's voice message, greeting and recording stay, and so does the configuration. A
# setup after it finds the configuration as the user left it. Then /REMOVECONFIG takes
# the configuration and the trace settings too, but not what other programs keep in the
# adapter's registry key, nor the user's files. It returns when it is done (status 3, and
# nothing removed, over an agent that never ends); it removes the translation file too.
source "$(dirname "$0")/installer-lib.sh"
fresh_prefix
export LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8 LOCPATH="$BUILD_DIR/locale"
LINK="$PREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/OrvinAgent.lnk"
TRACE="$PREFIX/drive_c/OrvinAgent/OrvinAgent.trace"
LNG="$PREFIX/drive_c/windows/zuvoip.lng"

expect_setup install /S
[ -f "$LNG" ] || fail "the setup unpacked no translation file"
user_files
reg_add "HKLM\\$ROOT\\Config\\IVR" /v Pin /d 1357
# What the adapter's own software keeps in its key.
reg_add "HKLM\\$ROOT" /v ProductName /d "Orvin Phone Adapter"

# ---- An agent that does not end when asked: exit status 3.
start_stuck_agent
quiet_uninstall uninstall-stuck
[ "$STATUS" = 3 ] || fail "the uninstaller exited with $STATUS over an agent that does not end, expected 3"
expect_program_files
[ -e "$LINK" ] && [ -f "$LNG" ] || fail "the uninstaller over a stuck agent removed files"
reg_tree run-stuck.txt "$RUN_KEY"
expect_text run-stuck.txt 'OrvinAgent='
[ "$(key_exists "$UNINSTALL")" = 1 ] || fail "the uninstaller over a stuck agent removed the list entry"
stop stubborn

start_service
start_agent_from_run_value agent
sim "wait-agent timeout=60000" 90
sim "expect AGENT_EVENT NotifyAgentStatus info=0 timeout=20000"
[ -f "$TRACE" ] || fail "the agent writes no trace file"

start_settings
uninstall
sim "expect AGENT_EVENT NotifyAgentStatus info=3 timeout=20000"
expect_status agent 0 30
expect_status settings 0 10
stop_service

expect_no_program_files
[ ! -e "$LINK" ] && [ ! -e "${LINK%.lnk} Settings.lnk" ] || fail "a Start-menu entry is still there"
[ ! -e "$LNG" ] || fail "the translation file is still there"
reg_tree run.txt "$RUN_KEY"
expect_no_text run.txt 'OrvinAgent='
[ ! -e "$TRACE" ] || fail "the trace file is still there"
expect_user_files
reg_tree kept.txt "$ROOT"
expect_line kept.txt 'Config\IVR\Pin=sz:1357'
expect_line kept.txt 'SoftwareInstallationFolder=sz:C:\Program Files\Orvin\VoipAdapter'
reg_tree kept-trace.txt "$TRACE_KEY"
expect_line kept-trace.txt 'DebugType=dword:3'

# Installed again, it finds the user's settings.
expect_setup reinstall /S
expect_program_files
reg_tree reinstalled.txt "$ROOT"
cmp -s "$WORK/kept.txt" "$WORK/reinstalled.txt" ||
    fail "the new installation changed the kept configuration: $(diff "$WORK/kept.txt" "$WORK/reinstalled.txt")"

# A trace level the user set is a trace setting too.
reg_add "HKLM\\$TRACE_KEY" /v DebugLevel /t REG_DWORD /d 2
uninstall /REMOVECONFIG
expect_no_program_files
expect_user_files
reg_tree left.txt "$ROOT"
diff <(echo 'ProductName=sz:Orvin Phone Adapter') "$WORK/left.txt" >"$WORK/left.diff" ||
    fail "/REMOVECONFIG left other values, or took the adapter software's: $(cat "$WORK/left.diff")"
expect_no_key "$TRACE_KEY"
expect_no_key 'SOFTWARE\Velcora'
echo "PASS"
