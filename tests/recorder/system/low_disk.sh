#!/usr/bin/env bash
# The recorder on a small disk: a tmpfs of 12 MB mapped as a Wine drive holds the
# recordings. With less free space than the DontStart threshold a start is refused; a
# recording stops at its disk check once the free space falls below the Stop threshold;
# a disk that fills before any check ends the recording with the audio that fitted. Each
# file left is valid and reads back as the beginning of the call. Needs root for the
# mount; otherwise the test is skipped (status 77).
source "$(dirname "$0")/recorder-lib.sh"

DISK="$WORK/disk"
mkdir -p "$DISK"
if [ "$(id -u)" != 0 ] || ! mount -t tmpfs -o size=12m orvin-recorder-test "$DISK" 2>"$WORK/mount.err"; then
    echo "SKIP: a tmpfs can not be mounted here ($(cat "$WORK/mount.err" 2>/dev/null))"
    exit 77
fi
unmount_disk() {
    umount "$DISK" 2>/dev/null || umount -l "$DISK" 2>/dev/null || true
}
at_exit unmount_disk

# The first free drive letter from R: on, mapped to the tmpfs in the build's prefix.
PREFIX_DIR=$("$WINE_RUN" --env | sed -n 's/^WINEPREFIX=\([^ ]*\) .*/\1/p')
[ -d "$PREFIX_DIR/dosdevices" ] || fail "no dosdevices folder in the prefix '$PREFIX_DIR'"
for letter in r s t u v w; do
    if [ ! -e "$PREFIX_DIR/dosdevices/$letter:" ] && [ ! -L "$PREFIX_DIR/dosdevices/$letter:" ]; then
        DRIVE=$letter
        break
    fi
done
[ -n "${DRIVE:-}" ] || fail "no free drive letter from R: to W:"
ln -s "$DISK" "$PREFIX_DIR/dosdevices/$DRIVE:"
unmap_drive() {
    rm -f "$PREFIX_DIR/dosdevices/$DRIVE:"
}
at_exit unmap_drive
RECORDINGS=$DISK
DRIVE_PATH="${DRIVE^^}:\\"

recorder_registry "$DRIVE_PATH"
reg_add "$ROOT_KEY\\Recorder" /v DontStartDiskSpaceThreshold /t REG_DWORD /d 20000000
make_call big.wav 313 300
make_call small.wav 160 700
start_stand_ins
start_agent agent
agent_ready
expect_text agent.txt "UpdateSettings>>> szRecordingDirectory - $DRIVE_PATH"

# Less free space than DontStart: refused, nobody told of a start.
ui_do "start"
expect_line ui.out "start=1"
ui_do "query"
expect_line ui.out "recording=0"
expect_text agent.txt "There is not enough space on disk. Recording will NOT be started"
expect_recordings 0
expect_no_text service.log "NotifyAgentStatus info=8"

# DontStart 10000000, Stop 9000000: the check comes after 5000000 bytes of audio, when
# about 7 MB are left; the recording stops there.
reg_add "$ROOT_KEY\\Recorder" /v DontStartDiskSpaceThreshold /t REG_DWORD /d 10000000
reg_add "$ROOT_KEY\\Recorder" /v StopDiskSpaceThreshold /t REG_DWORD /d 9000000
ui_do "settings"
wait_text agent.txt "UpdateSettings>>> dwStopDiskSpaceThreshold - 9000000" 10
start_recording
sim "rec-audio $(winpath "$WORK/big.wav")" 120
sim "expect AGENT_EVENT NotifyAgentStatus info=9 timeout=30000"
ui_do "expect-notify stopped"
expect_text agent.txt "There is not enough space on disk. Recording stopped"
first=$(newest_recording)
expect_audio_prefix "$RECORDINGS/$first" "$WORK/big.wav"
audio=$(( $(stat -c %s "$RECORDINGS/$first") - 44 ))
[ "$audio" -ge 5000000 ] && [ "$audio" -lt 5001000 ] ||
    fail "the recording stopped after $audio bytes of audio, expected at the first record past 5000000"

# The disk fills before any check: about 2 MB left, thresholds 1000000 (a check only
# every 5000000 bytes). The write that does not fit ends the recording.
avail=$(df -B1 --output=avail "$DISK" | tail -1)
fallocate -l $((avail - 2000000)) "$DISK/filler" 2>/dev/null ||
    dd if=/dev/zero of="$DISK/filler" bs=1M count=$(((avail - 2000000) / 1048576)) 2>/dev/null || true
reg_add "$ROOT_KEY\\Recorder" /v DontStartDiskSpaceThreshold /t REG_DWORD /d 1000000
reg_add "$ROOT_KEY\\Recorder" /v StopDiskSpaceThreshold /t REG_DWORD /d 1000000
ui_do "settings"
wait_text agent.txt "UpdateSettings>>> dwDontStartDiskSpaceThreshold - 1000000" 10
start_recording
sim "rec-audio $(winpath "$WORK/small.wav")" 120
sim "expect AGENT_EVENT NotifyAgentStatus info=9 timeout=30000"
ui_do "expect-notify stopped"
expect_text agent.txt "CCallRecorder: writing the recording failed (error 112"
second=$(newest_recording)
[ "$second" != "$first" ] || fail "no second recording"
expect_audio_prefix "$RECORDINGS/$second" "$WORK/small.wav"

shutdown_agent
expect_status agent 0 30
stop_stand_ins
echo "PASS"
