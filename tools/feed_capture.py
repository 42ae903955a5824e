#!/usr/bin/env python3
"""Feeds the virtual capture device's FIFO at the pace a sound card would.

    feed_capture.py FIFO QUEUE_DIR

8000 Hz signed 16-bit mono, in 20 ms pieces: silence, except while a queued file plays.
A file dropped into QUEUE_DIR (NAME.wav, a PCM WAV of that format, or NAME.raw) is played
next, in name order; when its last sample has been written, NAME.done appears beside it,
holding the time (seconds) of that write: the pipe source hands on what it reads at once
(the queued file itself is removed as it starts). The time is CLOCK_MONOTONIC_RAW, the clock
of Wine's QueryPerformanceCounter (CLOCK_MONOTONIC is slewed away from it, by some ms a
minute), so that it compares with the Windows programs' stamps. A file QUEUE_DIR/stop ends
the feeder.
"""
import os
import struct
import sys
import time
import wave

RATE = 8000
CHUNK = RATE // 50  # 20 ms of samples


def load(path):
    if path.endswith(".wav"):
        with wave.open(path, "rb") as w:
            if (w.getframerate(), w.getsampwidth(), w.getnchannels()) != (RATE, 2, 1):
                raise SystemExit("feed_capture: %s is not 8000 Hz 16-bit mono" % path)
            return w.readframes(w.getnframes())
    with open(path, "rb") as f:
        return f.read()


def main():
    fifo, queue = sys.argv[1], sys.argv[2]
    silence = b"\0" * (CHUNK * 2)
    playing, name, offset = b"", None, 0
    start = time.monotonic()
    written = 0
    with open(fifo, "wb", buffering=0) as out:
        while not os.path.exists(os.path.join(queue, "stop")):
            if name is None:
                waiting = sorted(f for f in os.listdir(queue) if f.endswith((".wav", ".raw")))
                if waiting:
                    path = os.path.join(queue, waiting[0])
                    playing, name, offset = load(path), os.path.splitext(path)[0], 0
                    os.remove(path)
            if name is not None:
                piece = playing[offset:offset + CHUNK * 2]
                offset += len(piece)
                piece += silence[len(piece):]
            else:
                piece = silence
            try:
                out.write(piece)
            except BrokenPipeError:
                return
            if name is not None and offset >= len(playing):
                with open(name + ".tmp", "w") as done:
                    done.write("%.6f\n" % time.clock_gettime(time.CLOCK_MONOTONIC_RAW))
                os.replace(name + ".tmp", name + ".done")
                name = None
            written += CHUNK
            # Never more than 60 ms ahead of the clock.
            ahead = written / RATE - (time.monotonic() - start) - 0.06
            if ahead > 0:
                time.sleep(ahead)


if __name__ == "__main__":
    main()
