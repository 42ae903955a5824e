#!/usr/bin/env python3
"""Writes a WAV file of DTMF key tones for the OrvinDtmf tests and benchmark.

make_key_wav.py OUT.wav KEYS [--on MS] [--off MS] [--amp PEAK] [--noise RMS] [--repeat N]
                [--rate HZ] [--bits 8|16] [--channels N]

Each key is its row and column sine of PEAK amplitude each, ON ms long, followed by OFF ms
of silence; Gaussian noise of RMS level is added throughout (seeded: the same file every time).
"""
import argparse
import math
import random
import struct
import wave

ROWS = (697, 770, 852, 941)
COLS = (1209, 1336, 1477, 1633)
KEYS = "123A456B789C*0#D"


def samples(keys, on_ms, off_ms, amp, noise, rate, repeat):
    rnd = random.Random(2024)
    out = []
    for _ in range(repeat):
        for key in keys:
            i = KEYS.index(key)
            fr, fc = ROWS[i // 4], COLS[i % 4]
            w = 2 * math.pi / rate
            for n in range(on_ms * rate // 1000):
                out.append(amp * math.sin(w * fr * n) + amp * math.sin(w * fc * n))
            out.extend([0.0] * (off_ms * rate // 1000))
    if noise:
        out = [v + rnd.gauss(0, noise) for v in out]
    return out


def main():
    p = argparse.ArgumentParser()
    p.add_argument("out")
    p.add_argument("keys")
    p.add_argument("--on", type=int, default=80)
    p.add_argument("--off", type=int, default=80)
    p.add_argument("--amp", type=float, default=3000)
    p.add_argument("--noise", type=float, default=0)
    p.add_argument("--repeat", type=int, default=1)
    p.add_argument("--rate", type=int, default=8000)
    p.add_argument("--bits", type=int, default=16, choices=(8, 16))
    p.add_argument("--channels", type=int, default=1)
    a = p.parse_args()

    data = samples(a.keys, a.on, a.off, a.amp, a.noise, a.rate, a.repeat)
    frames = bytearray()
    for v in data:
        v = max(-32768, min(32767, round(v)))
        for _ in range(a.channels):
            if a.bits == 16:
                frames += struct.pack("<h", v)
            else:
                frames += struct.pack("B", (v >> 8) + 128)
    with wave.open(a.out, "wb") as w:
        w.setnchannels(a.channels)
        w.setsampwidth(a.bits // 8)
        w.setframerate(a.rate)
        w.writeframes(bytes(frames))


if __name__ == "__main__":
    main()
