#!/usr/bin/env bash
# The agent's life against the adapter stand-in: its start-up announcements, the
# adapter's arrival, a second agent that ends at once, and the end through the
# application manager's shutdown command (as an installer would send it).
source "$(dirname "$0")/agent-lib.sh"

agent_registry
cat >"$WORK/service.txt" <<'SCRIPT'
wait-agent timeout=30000
expect-generic ioctl=0xF000000E value=0 timeout=10000
expect AGENT_EVENT NotifyAgentStatus info=0
expect AGENT_EVENT NotifyAgentStatus info=6
expect AGENT_EVENT NotifyAgentStatus info=1
send HW_EVENT NOTIFY_OPEN_DEVICE
expect AGENT_EVENT NotifyAgentStatus info=6
expect AGENT_EVENT NotifyAgentStatus info=1
expect HW_EVENT 6 info=0
send HW_EVENT NOTIFY_HOOK_STATE info=0
send HW_EVENT NOTIFY_HOOK_STATE info=1
expect AGENT_EVENT NotifyAgentStatus info=3 timeout=60000
SCRIPT
start_service service "$(winpath "$WORK/service.txt")"
start agent "$AGENT"
wait_text trace.txt "[SM-->AG]==>HwEvent: MSG_TYPE_HW_EVENT: NOTIFY_HOOK_STATE, OnHook" 30

# A second agent sees the first and ends without a window. It traces to a file of its own
# (the first read the key at its start and keeps its file).
reg_add "$TRACE_KEY" /v DebugFile /d "$(winpath "$WORK/second-trace.txt")"
start second "$AGENT"
expect_status second 0 30
expect_order second-trace.txt \
    "OrvinAgent Application InitInstance() Started!" \
    "OrvinAppManager: IsFirstInstance(2)=FALSE" \
    "An instance of OrvinAgent is already running. InitInstance() Finished!"
expect_no_text second-trace.txt "InitializeSoftPhone"

"$WINE_RUN" "$APPCTL" shutdown 2 </dev/null >"$WORK/appctl.out" 2>&1 || fail "OrvinAppCtl shutdown 2 failed"
expect_status agent 0 30
expect_status service 0 30
expect_order trace.txt \
    "OrvinAgent Application InitInstance() Started!" \
    "OrvinAppManager: IsFirstInstance(2)=TRUE" \
    "Adaptor SW registry key: SOFTWARE\\OrvinTest\\Adapter" \
    "LoadRegistryParameters()" \
    "InitializeSoftPhone: SP = 8:  created" \
    "COrvinApiClient::Init()    NotifyAgentStatus, AgentAlive" \
    "OnVoipAdapterAttach(Status=0x0000000d)" \
    "Received shutdown command from Orvin app ID" \
    "OnOrvinAppManagerNotication: API client's ShuttingDown flag set" \
    "OnOrvinAppManagerNotication: Dialog's EndDialog(...) called" \
    "OrvinAgent Application InitInstance() CleanUp!" \
    "COrvinApiClient: PrepareForClosing..." \
    "IOMAN: Thread Proc Exited" \
    "OrvinAgent Application InitInstance() Finished!"
echo "PASS"
