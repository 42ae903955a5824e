#!/usr/bin/env python3
"""Watches the playback device's monitor (8000 Hz s16le mono on standard input, from parec)
and prints, whenever the sound changes, the time it arrived and what it is:

    <seconds> quiet | low | high

in 10 ms pieces: quiet below an RMS of 300, otherwise low or high by its zero crossings
(a 440 Hz tone crosses about 9 times in 10 ms, a 1000 Hz tone 20 times). A class must
hold for two pieces in a row to count, and its time is that of its first piece. Times are
on CLOCK_MONOTONIC_RAW, the clock of Wine's QueryPerformanceCounter, so that they compare
with the stamps of the Windows programs (CLOCK_MONOTONIC is slewed away from it).
"""
import math
import struct
import sys
import time

PIECE = 80  # samples: 10 ms


def classify(samples):
    rms = math.sqrt(sum(s * s for s in samples) / len(samples))
    if rms < 300:
        return "quiet"
    crossings = sum(1 for a, b in zip(samples, samples[1:]) if (a < 0) != (b < 0))
    return "high" if crossings > 13 else "low"


def main():
    stream = sys.stdin.buffer
    shown, candidate, since = None, None, 0.0
    while True:
        data = stream.read(PIECE * 2)
        if len(data) < PIECE * 2:
            return
        now = time.clock_gettime(time.CLOCK_MONOTONIC_RAW)
        kind = classify(struct.unpack("<%dh" % PIECE, data))
        if kind == shown:
            candidate = None
            continue
        if kind != candidate:
            candidate, since = kind, now
            continue
        shown, candidate = kind, None
        print("%.6f %s" % (since, kind), flush=True)


if __name__ == "__main__":
    main()
