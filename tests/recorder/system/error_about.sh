#!/usr/bin/env bash
# The error box and the About box as a user meets them: the adapter reports swapped
# cables twice and one box shows the message, its OK tells the service; the About box,
# opened from the tray menu's command, shows the installation's product data and closes
# by itself when the adapter goes.
source "$(dirname "$0")/recorder-lib.sh"

recorder_registry
reg_add "$ROOT_KEY" /v ProductName /d "Orvin Phone Adapter"
reg_add "$ROOT_KEY" /v ProviderName /d Velcora
reg_add "$ROOT_KEY" /v ProviderURL /d "http://www.example.com/orvin"
reg_add "$ROOT_KEY" /v AppProviderName /d "Velcora Ltd"
reg_add "$ROOT_KEY" /v SWVersion /d 2.1.7
start_fed_service
start agent "$AGENT"
sim "wait-agent timeout=30000"
sim "expect AGENT_EVENT NotifyAgentStatus info=1 timeout=10000"
sim "send HW_EVENT NOTIFY_OPEN_DEVICE"
sim "expect HW_EVENT NOTIFY_JACK_SWAP info=0"   # the attach's acknowledgement
expect_text trace.txt "CErrorMessageDlg::OnInitDialog"

# Two swaps: one box, its texts each time, nothing told to the service until OK.
sim "send HW_EVENT NOTIFY_JACK_SWAP info=1"
probe first-box wait "Orvin Adapter" 10000
expect_line first-box.out "count=1"
expect_line first-box.out "text.1018=Line and phone cables are reversed!"
sim "send HW_EVENT NOTIFY_JACK_SWAP info=0"
wait_text trace.txt "HwEvent: MSG_TYPE_HW_EVENT: NOTIFY_JACK_SWAP, 0" 10
probe second-box wait "Orvin Adapter" 10000
expect_line second-box.out "count=1"
[ "$(value_of first-box.out window)" = "$(value_of second-box.out window)" ] ||
    fail "the second swap showed another box: $(value_of second-box.out window), not $(value_of first-box.out window)"
expect_count trace.txt "ShowErrorMessage()" 2
expect_count service.log "RX IMM MSG_TYPE_HW_EVENT NOTIFY_JACK_SWAP" 1
probe press press "Orvin Adapter" 1
sim "expect HW_EVENT NOTIFY_JACK_SWAP info=0"   # the box's report
probe box-gone gone "Orvin Adapter" 5000
expect_count service.log "RX IMM MSG_TYPE_HW_EVENT NOTIFY_JACK_SWAP" 2

# The About box from the tray menu's command; the adapter goes and it closes itself.
probe about-command command OrvinAgent 32773
probe about wait "About OrvinAgent" 10000
expect_line about.out "text.1013=Orvin Phone Adapter"
expect_line about.out "text.1014=Copyright Velcora"
expect_line about.out "text.1015=Version 2.1.7"
expect_line about.out "text.1016=Velcora Ltd "
expect_line about.out "text.1019=http://www.example.com/orvin"
expect_text trace.txt "URL: http://www.example.com/orvin"
sim "send HW_EVENT NOTIFY_CLOSE_DEVICE"
probe about-gone gone "About OrvinAgent" 5000
gone_ms=$(value_of about-gone.out gone_ms)
[ "$gone_ms" -le 1500 ] || fail "the About box closed $gone_ms ms after the adapter went, expected within 1500"

shutdown_agent
sim "expect AGENT_EVENT NotifyAgentStatus info=3 timeout=30000"
expect_status agent 0 30
end_feed service
expect_status service 0 30
echo "PASS"
