#!/usr/bin/env python3
"""Writes key tones into a capture FIFO at the pace a sound card would deliver them.

    key_tones.py FIFO DIGITS [SECONDS]

8000 Hz signed 16-bit mono: 0.5 s of silence, each digit as 100 ms of tone and 150 ms
of silence, then silence until SECONDS have passed (default 20) or the reader is gone.
"""
import math
import struct
import sys
import time

RATE = 8000
KEYS = "123A456B789C*0#D"
ROWS = (697, 770, 852, 941)
COLS = (1209, 1336, 1477, 1633)


def tone(digit, ms):
    i = KEYS.index(digit)
    fr, fc = ROWS[i // 4], COLS[i % 4]
    n = RATE * ms // 1000
    return [int(6000 * (math.sin(2 * math.pi * fr * k / RATE) + math.sin(2 * math.pi * fc * k / RATE)))
            for k in range(n)]


def silence(ms):
    return [0] * (RATE * ms // 1000)


def main():
    fifo, digits = sys.argv[1], sys.argv[2]
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 20.0
    samples = silence(500)
    for d in digits:
        samples += tone(d, 100) + silence(150)
    chunk = RATE // 50  # 20 ms
    start = time.monotonic()
    with open(fifo, "wb", buffering=0) as out:
        sent = 0
        while time.monotonic() - start < seconds:
            piece = samples[sent:sent + chunk] if sent < len(samples) else []
            piece += [0] * (chunk - len(piece))
            try:
                out.write(struct.pack("<%dh" % chunk, *piece))
            except BrokenPipeError:
                return
            sent += chunk
            # Keep to real time: never more than 100 ms ahead of the clock.
            ahead = sent / RATE - (time.monotonic() - start)
            if ahead > 0.1:
                time.sleep(ahead - 0.1)


if __name__ == "__main__":
    main()
