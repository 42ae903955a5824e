#!/usr/bin/env bash
# A recorder driver that answers badly while a call is recorded: more bytes than the
# buffer holds, nothing at all, failures, device calls that fail while the handle lives
# on, a read claiming more than the buffer; then
# records whose payload runs past the data, on an unknown channel, a header cut short.
# The agent traces each, reads nothing past the data, loses no audio the driver did
# deliver, and the call's file is sample for sample the call.
source "$(dirname "$0")/recorder-lib.sh"

recorder_registry
make_call call.wav 3 620
start_stand_ins
start_agent agent
agent_ready
start_recording

# Answers that carry nothing usable: the queued audio waits in the driver.
sim "rec-fault long"
sim "rec-audio $(winpath "$WORK/call.wav")"
wait_text agent.txt "CCallRecorder::Poll - the driver answered more than the read buffer holds; answer dropped" 10
sim "rec-fault silent"
sim "sleep 600"
sim "rec-fault fail"
sim "sleep 600"
# The device call fails (ERROR_IO_DEVICE) but the handle lives: nothing is read, and the
# recording goes on with the driver kept.
sim "rec-fault transient"
sim "sleep 600"
wait_text agent.txt "CCallRecorder::Poll - reading the driver failed (error 1117); the recording goes on" 10
# A read that claims 40000 bytes: the 32000 of the buffer are taken.
sim "rec-fault overclaim"
sim "rec-drain"
sim "rec-fault none"
wait_text agent.txt "CCallRecorder::Poll - the driver reads again after " 10
expect_no_text agent.txt "the recorder driver is gone"

# Bad records, each alone in a read, between good audio.
sim "rec-raw $(record_hex VCLOG 0 5000 0102030405060708090a)"
sim "rec-raw $(record_hex VCLXYZ 1 4 02000000)"
sim "rec-raw $(record_hex VCLOG 0 4 01020304)0102030405060708090a0b0c0d0e0f101112131415161718"
sim "rec-raw $(record_hex VCLCTRL 1 3 020000)"
sim "rec-drain"
wait_text agent.txt "CCallRecorder: record at byte 0 runs past the data (payload 5000 bytes, 10 left); ignored" 10
wait_text agent.txt "CCallRecorder: 1 record(s) on unknown channels skipped, the first on 'VCLXYZ'" 10
wait_text agent.txt "CCallRecorder: 24 bytes at the end are no whole record header; ignored" 10
ui_do "query"
expect_line ui.out "recording=1"

# The call ends; the file holds the call and the 4 bytes of the one good raw record.
sim "rec-event 4"
sim "expect AGENT_EVENT NotifyAgentStatus info=9"
ui_do "expect-notify stopped"
file=$RECORDINGS/$(newest_recording)
expect_valid_wav "$file"
cmp -s <(samples "$file") <(samples "$WORK/call.wav"; printf '\x01\x02\x03\x04') ||
    fail "the recording is not the call followed by the good raw record's 4 bytes"

shutdown_agent
expect_status agent 0 30
stop_stand_ins
echo "PASS"
