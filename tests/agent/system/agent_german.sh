#!/usr/bin/env bash
# On a German system the agent shows its texts in German: the installation's cabinet is
# unpacked into the Windows directory, and the standby denial box reads the translation.
source "$(dirname "$0")/agent-lib.sh"

DATA_DIR=$(cd "$(dirname "$0")/../../../data" && pwd)
agent_registry
reg_add "$ROOT_KEY" /v SoftwareInstallationFolder /d "$(winpath "$DATA_DIR")"
reg_add "$ROOT_KEY\\Config\\IVR\\Voip" /v Mode /t REG_DWORD /d 1
reg_add "$ROOT_KEY\\Config\\IVR" /v DisableStandbyOnCFWActive /t REG_DWORD /d 1
cat >"$WORK/service.txt" <<'SCRIPT'
wait-agent timeout=30000
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=10000
send HW_EVENT NOTIFY_OPEN_DEVICE
expect HW_EVENT 6 info=0
expect AGENT_EVENT NotifyAgentStatus info=3 timeout=60000
SCRIPT
start_service service "$(winpath "$WORK/service.txt")"
start agent "$AGENT"
wait_text trace.txt "COrvinApiClient: the system is kept awake" 30

"$WINE_RUN" "$POWER" query-suspend --title MessageOnlyWindowTitle --process OrvinAgent.exe --dismiss \
    </dev/null >"$WORK/power.out" 2>&1 || fail "OrvinPowerEvent failed"
expect_text power.out "answer=0x424D5144"
expect_text power.out 'dismissed "Aktive Sitzung - Änderung des Energiezustands abgelehnt!"'

"$WINE_RUN" "$APPCTL" shutdown 2 </dev/null >"$WORK/appctl.out" 2>&1 || fail "OrvinAppCtl shutdown 2 failed"
expect_status agent 0 30
expect_status service 0 30
echo "PASS"
