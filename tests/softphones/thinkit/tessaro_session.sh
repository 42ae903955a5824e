#!/usr/bin/env bash
# A Tessaro client across processes: no softphone type selects Tessaro, so TessaroHost.exe
# holds one as the agent would hold its client, between the adapter stand-in and the
# Tessaro stand-in. A contact's call rings the telephone once her speed dial (12) and
# handle are known and is answered on the handset, a key goes to the far end as
# "BTN_PRESSED" and a key comes back, the handset hangs up ("hook on", then the call's
# end); a second call is ended by the far end; a lone star is nothing to Tessaro; 555 is
# dialled with the send key; Tessaro goes away (attach status 1) and comes back (status
# 2: the client discovers anew, sent to every window). Both scripts meet every
# expectation, Tessaro finds no fault in what the client sent, and the service saw the
# statuses exactly in order, the close included.
source "$(dirname "$0")/../../agent/system/agent-lib.sh"

TESSAROSIM="$BUILD_DIR/tools/ThinkItSim/TessaroSim.exe"
HOST="$BUILD_DIR/tests/softphones/thinkit/TessaroHost.exe"
agent_registry

cat >"$WORK/tessaro.txt" <<'SCRIPT'
answer get Tessaroversion => TESSAROVERSION 1.2.0.7
answer protocol 5 => PROTOCOL 5
answer search friends => USERS alice, bob
answer get user alice speeddial => USER alice SPEEDDIAL 12
answer get user * speeddial => USER $1 SPEEDDIAL
answer get user * onlinestatus => USER $1 ONLINESTATUS ONLINE
answer ping => PONG
answer get call * type => CALL $1 TYPE INCOMING_P2P
answer get call * partner_handle => CALL $1 PARTNER_HANDLE alice
attach success timeout=60000
expect-command get Tessaroversion timeout=10000
expect-command search friends timeout=10000
# The adapter attaches: the client connects anew.
expect-command get Tessaroversion timeout=30000
expect-command search friends timeout=10000
notify CALL 31 STATUS RINGING
expect-command get call 31 type
expect-command get call 31 partner_handle
expect-command get user alice speeddial
expect-command "SET CALL 31 Status inprogress" timeout=30000
notify CALL 31 STATUS INPROGRESS
expect-command "BTN_PRESSED 4" timeout=30000
notify CALL 31 DTMF 5
expect-command "hook on" timeout=30000
expect-command "SET CALL 31 Status finished"
notify CALL 31 STATUS FINISHED
sleep 500
notify CALL 32 STATUS RINGING
expect-command "SET CALL 32 Status inprogress" timeout=30000
notify CALL 32 STATUS INPROGRESS
sleep 1000
notify CALL 32 STATUS FINISHED
expect-command CALL 555 timeout=30000
notify CALL 33 STATUS ROUTING
notify CALL 33 STATUS INPROGRESS
sleep 500
notify CALL 33 STATUS FINISHED
sleep 1000
# Tessaro goes away and comes back.
attach unavailable
expect-command "set audio_in " timeout=10000
expect-command "set audio_out " timeout=10000
sleep 1000
attach available
attach success timeout=30000
expect-command search friends timeout=10000
sleep 2000
SCRIPT

cat >"$WORK/service.txt" <<'SCRIPT'
wait-agent timeout=30000
expect AGENT_EVENT NotifyAgentStatus info=0
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=30000   # the last friend's status
send HW_EVENT NOTIFY_OPEN_DEVICE
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=30000   # the friends anew
expect CALL_EVENT CALL_STATUS_RINGING info=31 buf1=12 buf2=alice timeout=30000
send HW_EVENT NOTIFY_VOIP_STATE info=0
send HW_EVENT NOTIFY_HOOK_STATE info=0
send CALL_EVENT CALL_STATUS_INPROGRESS info=31
expect CALL_EVENT CALL_STATUS_INPROGRESS info=31
send HW_EVENT NOTIFY_DTMF_KEY info='4'
expect AGENT_EVENT OOBDtmf info=31 buf1=5
send CALL_EVENT CALL_STATUS_FINISHED info=31
send HW_EVENT NOTIFY_HOOK_STATE info=1
expect CALL_EVENT CALL_STATUS_FINISHED info=31
expect CALL_EVENT CALL_STATUS_RINGING info=32 buf1=12 buf2=alice timeout=30000
send HW_EVENT NOTIFY_HOOK_STATE info=0
send CALL_EVENT CALL_STATUS_INPROGRESS info=32
expect CALL_EVENT CALL_STATUS_INPROGRESS info=32
expect CALL_EVENT CALL_STATUS_FINISHED info=32 timeout=30000
send HW_EVENT NOTIFY_HOOK_STATE info=1
sleep 500
send HW_EVENT NOTIFY_HOOK_STATE info=0
send HW_EVENT NOTIFY_DTMF_KEY info='*'
send HW_EVENT NOTIFY_DTMF_KEY info='5'
send HW_EVENT NOTIFY_DTMF_KEY info='5'
send HW_EVENT NOTIFY_DTMF_KEY info='5'
send HW_EVENT NOTIFY_DTMF_KEY info='*'
expect CALL_EVENT CALL_STATUS_ROUTING info=33 timeout=30000
expect CALL_EVENT CALL_STATUS_INPROGRESS info=33 timeout=30000
expect CALL_EVENT CALL_STATUS_FINISHED info=33 timeout=30000
send HW_EVENT NOTIFY_HOOK_STATE info=1
expect AGENT_EVENT NotifyAgentStatus info=2 timeout=30000   # Tessaro went away
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=30000   # and came back with its friends
expect AGENT_EVENT NotifyAgentStatus info=2 timeout=60000   # detached at the close
expect AGENT_EVENT NotifyAgentStatus info=3 timeout=30000   # closing
SCRIPT

start_service service "$(winpath "$WORK/service.txt")"
start tessaro "$TESSAROSIM" --log "$(winpath "$WORK/tessaro.log")" "$(winpath "$WORK/tessaro.txt")"
wait_text tessaro.log "] window of class tSkMainForm.UnicodeClass open" 30
start host "$HOST" "$ROOT" --window-control
expect_status tessaro 0 180
# Closed as the monitor program closes the agent: "MonitorNotifyAgentShutdown" to its engine.
"$WINE_RUN" "$MONITOR" --shutdown-agent </dev/null >"$WORK/monitor.out" 2>&1 || fail "OrvinMonitor failed"
expect_status host 0 30
expect_status service 0 30

expect_order host.out "[AG-->SF]==>get Tessaroversion" "[AG-->SF]==>SET CALL 31 Status inprogress" \
    "[AG-->SF]==>BTN_PRESSED 4" "[AG-->SF]==>hook on" "[AG-->SF]==>SET CALL 31 Status finished" \
    "[AG-->SF]==>CALL 555" "[AG-->SF]==>set audio_in " "closed"
expect_order trace.txt "!!! Tessaro API not available" "!!! Try connect now (API available)"
expect_no_text tessaro.log "ERROR"
statuses=$(tr -d '\r' <"$WORK/service.log" | sed -n 's/.*\] RX IMM MSG_TYPE_AGENT_EVENT NotifyAgentStatus info=\([0-9]*\).*/\1/p' |
    tr '\n' ' ')
[ "$statuses" = "0 1 1 2 1 2 3 " ] || fail "the service saw NotifyAgentStatus $statuses(expected 0 1 1 2 1 2 3)"
echo "PASS"
