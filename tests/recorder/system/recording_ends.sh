#!/usr/bin/env bash
# A recording under way is never left without its sizes: the agent is shut down through
# the application channel (the monitor's command) and through the application manager
# in the middle of a call, the system suspends, the recorder driver goes away (and, idle,
# is pulled out under the agent's handle and comes back), and the agent is killed outright. Each time the file is a valid WAV file that sox reads back as
# the beginning of the call's audio, and the service hears that the recording stopped
# before it hears that the agent closes.
source "$(dirname "$0")/recorder-lib.sh"

recorder_registry
make_call call.wav 8 500
start_stand_ins

# 1. The monitor's shutdown command (application channel) while the audio flows.
start_agent agent1
agent_ready
start_recording
feed service "rec-audio $(winpath "$WORK/call.wav") pace=realtime"
audio_line=$LINE
first=$(newest_recording)
wait_audio "$first" 38400
"$WINE_RUN" "$MONITOR" --shutdown-agent </dev/null >"$WORK/monitor.out" 2>&1 || fail "OrvinMonitor failed"
expect_status agent1 0 30
ui_do "expect-notify stopped"
expect_text agent1.txt "CMessageEngine: MonitorNotifyAgentShutdown"
expect_audio_prefix "$RECORDINGS/$first" "$WORK/call.wav"
wait_line service "$audio_line" 30
sim "expect AGENT_EVENT NotifyAgentStatus info=9"
sim "expect AGENT_EVENT NotifyAgentStatus info=3"
sim "rec-expect-unregister"

# 2. The application manager's shutdown command, the same way.
start_agent agent2
agent_ready
start_recording
feed service "rec-audio $(winpath "$WORK/call.wav") pace=realtime"
audio_line=$LINE
second=$(newest_recording)
wait_audio "$second" 38400
shutdown_agent
expect_status agent2 0 30
ui_do "expect-notify stopped"
expect_audio_prefix "$RECORDINGS/$second" "$WORK/call.wav"
wait_line service "$audio_line" 30
sim "expect AGENT_EVENT NotifyAgentStatus info=9"
sim "expect AGENT_EVENT NotifyAgentStatus info=3"

# 3. The system suspends during a recording: it stops; the agent goes on.
start_agent agent3
agent_ready
start_recording
sim "rec-audio $(winpath "$WORK/call.wav")"
sim "rec-drain"
third=$(newest_recording)
wait_audio "$third" 153600
"$WINE_RUN" "$POWER" suspend --title MessageOnlyWindowTitle --process OrvinAgent.exe </dev/null \
    >"$WORK/suspend.out" 2>&1 || fail "OrvinPowerEvent suspend failed"
sim "expect AGENT_EVENT NotifyAgentStatus info=9"
sim "rec-expect-channels VCLCTRL"
ui_do "expect-notify stopped"
expect_order agent3.txt \
    "COrvinApiClient::OnPowerManagementNotification - PBT_APMSUSPEND" \
    "PBT_APMSUSPEND received during active logging session. The logging will be stopped"
expect_same_audio "$RECORDINGS/$third" "$WORK/call.wav"

# 4. The recorder driver goes away during a recording: the file is finished with what
# came; when the driver is back the agent registers again.
start_recording
sim "rec-audio $(winpath "$WORK/call.wav")"
sim "rec-drain"
fourth=$(newest_recording)
wait_audio "$fourth" 153600
sim "rec-remove 2000"
wait_text agent3.txt "CCallRecorder: the recorder driver is gone (error " 10
sim "expect AGENT_EVENT NotifyAgentStatus info=9"
ui_do "expect-notify stopped"
expect_same_audio "$RECORDINGS/$fourth" "$WORK/call.wav"
sim "rec-expect-register timeout=15000"
# Pulled out under the agent's open handle, whose requests then fail with
# ERROR_ACCESS_DENIED (5): gone at once; it registers again when the driver is back.
sim "rec-unplug 5 1000"
wait_text agent3.txt "CCallRecorder: the recorder driver is gone (error 5)" 10
sim "rec-expect-unregister timeout=10000"
sim "rec-expect-register timeout=15000"

# 5. The agent killed outright in the middle of a call: the sizes written after its last
# poll stand, so the file still reads as the audio recorded up to then.
start_recording
feed service "rec-audio $(winpath "$WORK/call.wav") pace=realtime"
audio_line=$LINE
fifth=$(newest_recording)
wait_audio "$fifth" 38400
kill -9 "${STARTED[agent3]}"
wait "${STARTED[agent3]}" 2>/dev/null || true
unset "STARTED[agent3]"
sleep 0.5
expect_audio_prefix "$RECORDINGS/$fifth" "$WORK/call.wav"
wait_line service "$audio_line" 30

stop_stand_ins
expect_recordings 5
for name in agent1 agent2; do
    expect_order "$name.txt" "CCallRecorder: recording to" " finished with " \
        "COrvinApiClient: PrepareForClosing..."
done
expect_order service.log \
    "RX IMM MSG_TYPE_AGENT_EVENT NotifyAgentStatus info=9" "RX IMM MSG_TYPE_AGENT_EVENT NotifyAgentStatus info=3" \
    "RX IMM MSG_TYPE_AGENT_EVENT NotifyAgentStatus info=9" "RX IMM MSG_TYPE_AGENT_EVENT NotifyAgentStatus info=3"
echo "PASS"
