#!/usr/bin/env bash
# The monitor program's channel and the system's standby queries: with call forwarding
# active (and standby denied with it) a standby query is refused, the denial box shown
# and the system kept awake; the monitor's shutdown command ends the agent.
source "$(dirname "$0")/agent-lib.sh"

agent_registry
reg_add "$ROOT_KEY\\Config\\IVR\\Pstn" /v Mode /t REG_DWORD /d 1
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

"$WINE_RUN" "$POWER" query-suspend --title MessageOnlyWindowTitle --process OrvinAgent.exe --dismiss </dev/null >"$WORK/power.out" 2>&1 ||
    fail "OrvinPowerEvent failed"
expect_text power.out "0x424D5144"
expect_text power.out "Active session - Power state change request denied !"
expect_order trace.txt \
    "CMessageEngine::WindowProc - WM_POWERBROADCAST 0000" \
    "COrvinApiClient::OnPowerManagementNotification - Automatically denying request for standby - CF Active" \
    "pConfigParams->IsPCStandbyOnCFWActiveDisabled() - 1" \
    "CMessageEngine::WindowProc - pClient->OnPowerManagementNotification() returned 424D5144"

"$WINE_RUN" "$POWER" suspend --title MessageOnlyWindowTitle --process OrvinAgent.exe </dev/null >"$WORK/suspend.out" 2>&1 ||
    fail "OrvinPowerEvent suspend failed"
expect_text trace.txt "COrvinApiClient::OnPowerManagementNotification - PBT_APMSUSPEND"

"$WINE_RUN" "$MONITOR" --shutdown-agent </dev/null >"$WORK/monitor.out" 2>&1 ||
    fail "OrvinMonitor failed"
expect_status agent 0 30
expect_status service 0 30
expect_text trace.txt "CMessageEngine: MonitorNotifyAgentShutdown"
expect_text trace.txt "OrvinAgent Application InitInstance() Finished!"
echo "PASS"
