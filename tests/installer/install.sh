#!/usr/bin/env bash
# A silent installation on a fresh PC: the programs, the voice menus and the translation
# cabinet in Program Files\Orvin\VoipAdapter; the configuration with every default of the
# registry file and the installation's folder; the trace settings and their folder; the
# agent started at logon (the machine's Run value) and on the Start menu; the entry in the
# list of installed programs. The agent started as Windows starts it at logon, on a German
# system, connects to the adapter stand-in serving the installation's registry root, reads
# its trace settings and takes its texts from the file the setup unpacked. Also: the
# voice menus' folders' access lists, no PIN, the Start-menu entry's working folder.
source "$(dirname "$0")/installer-lib.sh"
fresh_prefix
export LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8 LOCPATH="$BUILD_DIR/locale"

expect_setup install /S
expect_program_files
# Both programs ask Windows for an administrator's rights.
for exe in "$SETUP" "$INSTALL_DIR/Uninstall.exe"; do
    grep -aqF 'level="requireAdministrator"' "$exe" || fail "$(basename "$exe") has no manifest asking for an administrator"
done
[ -d "$INSTALL_DIR/IVR/VoiceMail" ] || fail "no IVR\\VoiceMail folder for the voice messages"
expect_line install.log "$(access_line "$INSTALL_WIN\\IVR")"
expect_line install.log "$(access_line "$INSTALL_WIN\\IVR\\English" "$USERS_ADD_FILES")"
expect_line install.log "$(access_line "$INSTALL_WIN\\IVR\\VoiceMail" "$USERS_ADD_FILES")"
[ "$(head -n 1 "$PREFIX/drive_c/windows/zuvoip.lng" | tr -d '\r')" = English1252=German1252 ] ||
    fail "the setup did not unpack the translation for German1252"

reg_tree root.txt "$ROOT"
LC_ALL=C sort >"$WORK/root-expected.txt" <<'VALUES'
ApplicationName=sz:OrvinAgent
AudioDeviceName=sz:Orvin Virtual Audio Device
Config\General\MinSoftphoneVersion=sz:3.0.0.0
Config\General\SendKey=sz:*
Config\General\SoftPhoneType=binary:000000c021000000
Config\IVR\AMGreetingDurationSec=dword:20
Config\IVR\AttachLineOnDCF=dword:0
Config\IVR\DisableStandbyOnCFWActive=dword:1
Config\IVR\Pin=sz:
Config\IVR\PinFailedCalls=dword:0
Config\IVR\PinLockedUntil=dword:0
Config\IVR\PinLockoutMinutes=dword:15
Config\IVR\Pstn\EnableAdminMode=dword:1
Config\IVR\Pstn\Mode=dword:0
Config\IVR\RecordGreetingOnPound=dword:1
Config\IVR\SupportedLanguages=sz:English
Config\IVR\UserDefinedLanguage=sz:
Config\IVR\VoiceMessageWaiting=dword:0
Config\IVR\VoiceMsgDurationSec=dword:30
Config\IVR\VoiceMsgMinDurationSec=dword:2
Config\IVR\Voip\EnableAdminMode=dword:1
Config\IVR\Voip\Mode=dword:0
Config\UI\Enable=dword:1
Config\UI\NoConfigure=dword:0
Config\UI\SFWindowContol=dword:0
DoNotTranslate=dword:0
MonitorExeName=sz:OrvinSettings
SoftwareInstallationFolder=sz:C:\Program Files\Orvin\VoipAdapter
VALUES
diff -u "$WORK/root-expected.txt" "$WORK/root.txt" >"$WORK/root.diff" ||
    fail "the configuration differs from the defaults: $(cat "$WORK/root.diff")"
reg_tree trace.txt "$TRACE_KEY"
expect_line trace.txt 'DebugType=dword:3'
expect_line trace.txt 'DebugFile=sz:C:\OrvinAgent\OrvinAgent.trace'
[ -d "$PREFIX/drive_c/OrvinAgent" ] || fail "no folder C:\\OrvinAgent for the trace file"

reg_tree uninstall.txt "$UNINSTALL"
expect_line uninstall.txt 'DisplayName=sz:OrvinAgent'
expect_line uninstall.txt "DisplayVersion=sz:$ORVIN_SETUP_VERSION"
expect_line uninstall.txt 'Publisher=sz:Orvin'
expect_line uninstall.txt 'UninstallString=sz:"C:\Program Files\Orvin\VoipAdapter\Uninstall.exe"'
expect_line uninstall.txt 'QuietUninstallString=sz:"C:\Program Files\Orvin\VoipAdapter\Uninstall.exe" /S _?=C:\Program Files\Orvin\VoipAdapter'
expect_line uninstall.txt 'InstallLocation=sz:C:\Program Files\Orvin\VoipAdapter'
expect_line uninstall.txt 'DisplayIcon=sz:C:\Program Files\Orvin\VoipAdapter\OrvinAgent.exe,0'
expect_line uninstall.txt 'NoModify=dword:1'
expect_line uninstall.txt 'NoRepair=dword:1'
# The size in KiB of what was installed, give or take the rounding of each file.
size=$(value_of uninstall.txt EstimatedSize)
size=${size#dword:}
installed=$(find "$INSTALL_DIR" -type f ! -name Uninstall.exe -printf '%s\n' | awk '{ s += $1 } END { print int(s / 1024) }')
[[ $size =~ ^[0-9]+$ ]] && [ $((size - installed)) -ge 0 ] && [ $((size - installed)) -le 64 ] ||
    fail "EstimatedSize is $size KiB, the installed files have $installed KiB"

LINK="$PREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/OrvinAgent.lnk"
[ -f "$LINK" ] || fail "no Start-menu entry OrvinAgent.lnk"
grep -aqF 'OrvinAgent.exe' "$LINK" || fail "the Start-menu entry does not name OrvinAgent.exe"
grep -aqF 'OrvinSettings.exe' "${LINK%.lnk} Settings.lnk" || fail "no Start-menu entry for OrvinSettings.exe"
# Their working folder: the installation folder's name in UTF-16 where no "\" follows (the
# icon's path goes on to the program).
python3 -c 'import re, sys; sys.exit(not all(re.search(re.escape(sys.argv[1].encode("utf-16-le")) + rb"(?!\\\x00)",
    open(f, "rb").read()) for f in sys.argv[2:]))' "$INSTALL_WIN" "$LINK" "${LINK%.lnk} Settings.lnk" ||
    fail "a Start-menu entry starts its program elsewhere"

# The agent at logon: it greets the service, traces to the file the trace key names, and
# takes its German texts from the file the setup unpacked (it could not write one).
start_service
start_agent_from_run_value agent
sim "wait-agent timeout=60000" 90
sim "expect AGENT_EVENT NotifyAgentStatus info=0 timeout=20000"
TRACE="$PREFIX/drive_c/OrvinAgent/OrvinAgent.trace"
deadline=$((SECONDS + 30))
until grep -aqF 'PrepareLngFile>> Installation folder - C:\Program Files\Orvin\VoipAdapter' "$TRACE" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || fail "the agent's trace file does not name the installation folder"
    sleep 0.2
done
grep -aqF 'Log Started Succesfully!' "$TRACE" || fail "the agent's trace file did not start"
grep -aqF 'Adaptor SW registry key: SOFTWARE\Orvin\VoipAdapter' "$TRACE" || fail "the agent did not find the root"
grep -aqF 'CTranslator::Load - language "German", code page 1252: language key German1252' "$TRACE" ||
    fail "the agent did not look for its German texts"

"$WINE_RUN" "$INSTALL_DIR/OrvinAppCtl.exe" shutdown 2 </dev/null >"$WORK/appctl.out" 2>&1 ||
    fail "the installed OrvinAppCtl could not end the agent: $(cat "$WORK/appctl.out")"
sim "expect AGENT_EVENT NotifyAgentStatus info=3 timeout=20000"
expect_status agent 0 30
stop_service
! grep -aqE 'PrepareLngFile>> .*(replaced|extracted from|Can not)' "$TRACE" ||
    fail "the agent did not take the translation file the setup unpacked: $(grep -a 'PrepareLngFile>>' "$TRACE")"
echo "PASS"
