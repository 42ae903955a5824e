#!/usr/bin/env bash
# Whole calls recorded: the adapter stand-in plays the recorder driver and the call's
# audio at its own pace, the recorder interface's stand-in starts the first recording
# and turns the automation on for the second. Each recording is read back by sox sample
# for sample equal to what the driver delivered; the service hears the starts and stops,
# the interface its notifications, and the driver sees only requests of the right layout.
source "$(dirname "$0")/recorder-lib.sh"

recorder_registry
make_call first.wav 6 440
make_call second.wav 4 900
start_stand_ins
start agent "$AGENT"
sim "wait-agent timeout=30000"
sim "expect AGENT_EVENT NotifyAgentStatus info=1 timeout=10000"
sim "rec-expect-register timeout=20000"
expect_text trace.txt "CCallRecorder: registered on VCLCTRL"

# The interface makes itself known; a call starts with the automation off: nothing yet.
ui_do "find-agent 20000"
ui_do "alive"
ui_do "query"
expect_line ui.out "recording=0"
sim "rec-event 3"
sim "rec-drain"
wait_text trace.txt "CET_LOCAL_CALL_STARTED CET_PASS_THROUGH_CALL_STARTED" 10
expect_recordings 0

# First call: recorded on the interface's request, stopped by the call's end.
ui_do "start"
expect_line ui.out "start=1"
ui_do "expect-notify started"
sim "expect AGENT_EVENT NotifyAgentStatus info=8"
sim "rec-expect-channels VCLCTRL,VCLOG"
ui_do "query"
expect_count ui.out "recording=1" 1
sim "rec-audio $(winpath "$WORK/first.wav") pace=realtime" 30
sim "rec-event 4"
sim "expect AGENT_EVENT NotifyAgentStatus info=9"
sim "rec-expect-channels VCLCTRL"
ui_do "expect-notify stopped"
expect_recordings 1
expect_same_audio "$RECORDINGS/$(recordings | head -1)" "$WORK/first.wav"

# Second call: the automation on, told by the interface; the call's start starts it, a
# second start during the call does nothing, the driver's own stop event ends it.
reg_add "$ROOT_KEY\\Recorder" /v AutomationMode /t REG_DWORD /d 1
ui_do "settings"
expect_line ui.out "settings=1"
wait_text trace.txt "UpdateSettings>>> eRAM - 1" 10
sim "rec-event 5"
sim "expect AGENT_EVENT NotifyAgentStatus info=8"
ui_do "expect-notify started"
sim "rec-expect-channels VCLCTRL,VCLOG"
sim "rec-event 3"
sim "rec-audio $(winpath "$WORK/second.wav") chunk=1920 pace=realtime" 30
sim "rec-event 2"
sim "expect AGENT_EVENT NotifyAgentStatus info=9"
sim "rec-expect-channels VCLCTRL"
ui_do "expect-notify stopped"
expect_recordings 2
expect_same_audio "$RECORDINGS/$(recordings | tail -1)" "$WORK/second.wav"
sim "rec-report"
expect_text service.out "dropped_overflow=0"
expect_count service.log "expect AGENT_EVENT NotifyAgentStatus info=8" 2

# The agent's end gives the registration back.
ui_do "stop"
expect_line ui.out "stop=1"
shutdown_agent
sim "rec-expect-unregister timeout=30000"
expect_status agent 0 30
stop_stand_ins
expect_order trace.txt \
    "UpdateSettings>>> szRecordingDirectory - $(winpath "$RECORDINGS")" \
    "UpdateSettings>>> eRAM - 0" \
    "UpdateSettings>>> dwDontStartDiskSpaceThreshold - 20000000" \
    "UpdateSettings>>> dwStopDiskSpaceThreshold - 10000000" \
    "CallRecorder Message>>> SESSION_RECORDER_GUI_ALIVE" \
    "Recorder GUI window - 0x" \
    "CallRecorder Message>>> SESSION_RECORDER_MESSAGE_START" \
    "CET_LOCAL_CALL_ENDED CET_PASS_THROUGH_CALL_ENDED" \
    "CallRecorder Message>>> SESSION_RECORDER_SETTINGS_UPDATE_MESSAGE" \
    "UpdateSettings>>> eRAM - 1" \
    "CET_LOCAL_CALL_STARTED CET_PASS_THROUGH_CALL_STARTED" \
    "CET_STOP_RECORDING" \
    "CallRecorder Message>>> SESSION_RECORDER_MESSAGE_STOP"
echo "PASS"
