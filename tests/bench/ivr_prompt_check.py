#!/usr/bin/env python3
"""Counts the prompts heard at the playback device's monitor whose audio differs from their
files (a prompt garbled, cut, repeated or time-warped by a late writer):

    ivr_prompt_check.py HEARD.raw PROMPT.wav COUNT

HEARD.raw is what parec recorded (8000 Hz s16le mono), PROMPT.wav the prompt as the stream
plays it (its files one after another). Each prompt is found where the sound starts after a
quiet stretch, lined up with the file by cross-correlation, and compared in 20 ms windows:
it differs when any window's normalized correlation with the file, within half a
millisecond of where it belongs (the path resamples twice, which shifts the sound by a
fraction of a sample), is below 0.8. A clean prompt scores about 0.95; a gap of 10 ms, a
segment played twice or skipped brings a window far below. Prints the count that differ (and
those missing) out of COUNT, and each one's lowest score.
"""
import array
import sys
import wave

WINDOW = 160  # 20 ms
LOCAL = 4  # samples: half a millisecond either way
THRESHOLD = 0.8
QUIET = 300.0


def rms(samples):
    return (sum(s * s for s in samples) / max(len(samples), 1)) ** 0.5


def corr(a, b):
    ab = sum(x * y for x, y in zip(a, b))
    aa = sum(x * x for x in a)
    bb = sum(y * y for y in b)
    return ab / ((aa * bb) ** 0.5) if aa and bb else 0.0


def main():
    heard = array.array("h")
    with open(sys.argv[1], "rb") as f:
        heard.frombytes(f.read())
    with wave.open(sys.argv[2], "rb") as w:
        prompt = array.array("h")
        prompt.frombytes(w.readframes(w.getnframes()))
    count = int(sys.argv[3])
    # Onsets: an 80-sample piece above the quiet level after at least 100 ms of quiet.
    onsets, quiet_run, i = [], 0, 0
    while i + 80 <= len(heard):
        loud = rms(heard[i:i + 80]) > QUIET
        if loud and quiet_run >= 10:
            onsets.append(i)
            i += len(prompt) - 800  # past this prompt
            quiet_run = 0
            continue
        quiet_run = 0 if loud else quiet_run + 1
        i += 80
    scores = []
    head = prompt[:1600]  # 200 ms: a chirp that long lines up at one place only
    for onset in onsets[:count]:
        best, start = -1.0, onset
        for shift in range(-120, 121, 2):
            at = onset + shift
            if at < 0 or at + len(head) > len(heard):
                continue
            c = corr(heard[at:at + len(head)], head)
            if c > best:
                best, start = c, at
        for fine in (start - 1, start + 1):
            if 0 <= fine and fine + len(head) <= len(heard):
                c = corr(heard[fine:fine + len(head)], head)
                if c > best:
                    best, start = c, fine
        low = 1.0
        for w in range(0, len(prompt) - WINDOW + 1, WINDOW):
            want = prompt[w:w + WINDOW]
            score = 0.0
            for local in range(-LOCAL, LOCAL + 1):
                at = start + w + local
                piece = heard[at:at + WINDOW] if at >= 0 else []
                if len(piece) == WINDOW:
                    score = max(score, corr(piece, want))
            low = min(low, score)
        scores.append(low)
    missing = max(count - len(scores), 0)
    differ = sum(1 for s in scores if s < THRESHOLD) + missing
    print("prompts: %d of %d differ from their files (%d missing); lowest scores %s"
          % (differ, count, missing, " ".join("%.2f" % s for s in sorted(scores)[:5])))
    print("differ %d" % differ)


if __name__ == "__main__":
    main()
