#!/usr/bin/env bash
# The setup run over an installation while the agent runs: the agent is asked to end
# through the application manager and ends (the service hears it close); the files are
# replaced; every value the user changed stays and only a missing one gets its default;
# the user's voice message, greeting and recording stay; the setup starts the agent
# again, which comes up with the softphone the user had chosen. Before that, a program
# that holds the agent's place in the application manager and never ends: the setup gives
# up after its bound, with its own exit status, and changes nothing; so over a file held
# open (5), starting the agent it ended again, and the settings program's (5). A running
# settings program ends. Values after an unnamed value and a good PIN stay; a standard user
# may set values only where the agent (the waiting-message count) and the settings program write.
source "$(dirname "$0")/installer-lib.sh"
fresh_prefix

expect_setup install /S
# The user's settings: a PIN, no main dialog, the answering machine instead of Skype, a
# recording folder, messages waiting, a value of the keys' own beside them; one value lost.
reg_add "HKLM\\$ROOT\\Config\\IVR" /v Pin /d 2580
reg_add "HKLM\\$ROOT\\Config\\IVR" /v VoiceMessageWaiting /t REG_DWORD /d 3
reg_add "HKLM\\$ROOT\\Config\\UI" /v Enable /t REG_DWORD /d 0
reg_add "HKLM\\$ROOT\\Config\\UI" /ve /d "kept"
reg_add "HKLM\\$ROOT\\Config\\IVR" /ve /d "kept"
reg_add "HKLM\\$ROOT\\Config\\General" /v SoftPhoneType /t REG_BINARY /d 00c00000b8000000
"$WINE_RUN" reg delete "HKLM\\$ROOT\\Config\\IVR" /v AttachLineOnDCF /f </dev/null >/dev/null 2>&1 ||
    fail "could not delete AttachLineOnDCF"
"$WINE_RUN" reg delete "HKLM\\$ROOT" /v MonitorExeName /f </dev/null >/dev/null 2>&1 || fail "MonitorExeName stays"
user_files
users_read "$ROOT" "$ROOT\\Config" "$ROOT\\Config\\General" "$ROOT\\Config\\UI" "$ROOT\\Config\\IVR" \
    "$ROOT\\Config\\IVR\\Pstn" "$ROOT\\Config\\IVR\\Voip" "$ROOT\\Recorder" "$TRACE_KEY"
reg_tree before.txt "$ROOT"
# The installed files made different from the build's, so that the new ones show.
echo old >"$INSTALL_DIR/OrvinDtmf.exe"
rm "$INSTALL_DIR/IVR/English/beep.wav"
echo "; changed" >>"$INSTALL_DIR/IVR/English/Menu.cfg"

# nothing_changed NAME: the files and the configuration are as before.
nothing_changed() {
    [ "$(cat "$INSTALL_DIR/OrvinDtmf.exe")" = old ] || fail "$1: the setup replaced files"
    [ ! -e "$INSTALL_DIR/IVR/English/beep.wav" ] || fail "$1: the setup installed files"
    reg_tree "after-$1.txt" "$ROOT"
    cmp -s "$WORK/before.txt" "$WORK/after-$1.txt" || fail "$1: the setup changed the configuration"
}

# ---- An agent that does not end when asked.
start_stuck_agent
began=$SECONDS
setup upgrade-stuck /S
[ "$STATUS" = 3 ] || fail "the setup exited with $STATUS over an agent that does not end, expected 3"
[ $((SECONDS - began)) -ge 35 ] || fail "the setup gave up after $((SECONDS - began)) s, before its bound"
nothing_changed stuck
stop stubborn

# ---- The settings program's file held open, as by one that does not end.
start holder "$PROBE" hold 'C:\Program Files\Orvin\VoipAdapter\OrvinSettings.exe'
wait_text holder.out "held=1" 30
setup upgrade-settings-held /S
[ "$STATUS" = 5 ] || fail "the setup exited with $STATUS over the settings program's file in use, expected 5"
expect_line upgrade-settings-held.log 'C:\Program Files\Orvin\VoipAdapter\OrvinSettings.exe is in use.'
nothing_changed settings-held
stop holder

# ---- The agent, started as at logon: the answering-machine client the user chose.
start_service
start_agent_from_run_value agent
sim "wait-agent timeout=60000" 90
sim "expect AGENT_EVENT NotifyAgentStatus info=0 timeout=20000"
sim "expect AGENT_EVENT NotifyAgentStatus info=6 timeout=20000"

# ---- The program file held open: the agent ends, the file stays in use, the setup gives
# up and starts the agent again.
start holder "$PROBE" hold 'C:\Program Files\Orvin\VoipAdapter\OrvinAgent.exe'
wait_text holder.out "held=1" 30
setup upgrade-held /S
[ "$STATUS" = 5 ] || fail "the setup exited with $STATUS over a program file in use, expected 5"
expect_status agent 0 30
sim "expect AGENT_EVENT NotifyAgentStatus info=3 timeout=20000"
expect_line upgrade-held.log 'C:\Program Files\Orvin\VoipAdapter\OrvinAgent.exe is in use.'
nothing_changed held
sim "wait-agent timeout=60000" 90
sim "expect AGENT_EVENT NotifyAgentStatus info=0 timeout=20000"
sim "expect AGENT_EVENT NotifyAgentStatus info=6 timeout=20000"
stop holder

start_settings
expect_setup upgrade /S
sim "expect AGENT_EVENT NotifyAgentStatus info=3 timeout=20000"
expect_status settings 0 10

expect_program_files
reg_tree after.txt "$ROOT"
expect_line after.txt 'Config\IVR\Pin=sz:2580'
expect_line after.txt 'Config\UI\Enable=dword:0'
expect_line after.txt 'Config\General\SoftPhoneType=binary:00c00000b8000000'
expect_line after.txt 'Recorder\Directory=sz:C:\Program Files\Orvin\VoipAdapter\Recordings'
expect_line after.txt 'Config\IVR\AttachLineOnDCF=dword:0'
# Nothing else changed: the same values as before, plus the one that was missing.
(cat "$WORK/before.txt" && echo 'Config\IVR\AttachLineOnDCF=dword:0' && echo 'MonitorExeName=sz:OrvinSettings') |
    LC_ALL=C sort >"$WORK/after-expected.txt"
diff -u "$WORK/after-expected.txt" "$WORK/after.txt" >"$WORK/after.diff" ||
    fail "the upgrade changed the configuration: $(cat "$WORK/after.diff")"
expect_user_files
expect_line upgrade.log "$(access_line "$INSTALL_WIN\\Recordings" "$USERS_ADD_FILES")"

# A standard user: the agent's write of the waiting-message count (3 read, one message
# taken away) is stored; values may be set where the settings program writes, not in the
# root (MonitorExeName) nor elsewhere (5: refused); the lists: read and set-value (DC) only.
"$WINE_RUN" "$PROBE" as-user "$ROOT" "$INSTALL_WIN" </dev/null | tr -d '\r' >"$WORK/as-user.txt"
expect_line as-user.txt 'read=3'
expect_line as-user.txt 'stored=2'
for key in '' '\Config' '\Config\UI' '\Recorder'; do
    expect_line as-user.txt "set-value $ROOT$key=5"
done
expect_line as-user.txt 'set-value SOFTWARE\Velcora\Quendo=5'
for key in '\Config\General' '\Config\IVR' '\Config\IVR\Pstn' '\Config\IVR\Voip'; do
    expect_line as-user.txt "set-value $ROOT$key=0"
    expect_line as-user.txt "create-sub-key $ROOT$key=5"
    expect_line upgrade.log "HKLM\\$ROOT$key: D:(A;;KR;;;BU)(A;;KA;;;BA)(A;;KA;;;SY)(A;;DC;;;BU)"
done

# The setup started the agent again: the user's softphone choice is in force.
sim "wait-agent timeout=60000" 90
sim "expect AGENT_EVENT NotifyAgentStatus info=0 timeout=20000"
sim "expect AGENT_EVENT NotifyAgentStatus info=6 timeout=20000"
[ "$(agent_running)" = 1 ] || fail "the agent does not run after the upgrade"
"$WINE_RUN" "$INSTALL_DIR/OrvinAppCtl.exe" shutdown 2 </dev/null >"$WORK/appctl.out" 2>&1 ||
    fail "could not end the agent the setup started: $(cat "$WORK/appctl.out")"
sim "expect AGENT_EVENT NotifyAgentStatus info=3 timeout=20000"
stop_service
echo "PASS"
