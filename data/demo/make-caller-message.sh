#!/usr/bin/env bash
# Makes caller-message.wav, what the demo's caller says to the answering machine: a short
# spoken message, then the keys 1 2 3 and '#' (which ends the recording), as 8000 Hz
# 16-bit mono PCM. Run by hand (needs espeak-ng, sox and python3); the file is committed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
OUT=(-R -D -r 8000 -c 1 -b 16 -e signed-integer)
espeak-ng -v en-us -s 170 -w "$work/voice.wav" "Hello, this is Alice. Please call me back."
sox -R -D "$work/voice.wav" "${OUT[@]}" "$work/speech.wav" \
    silence 1 0.02 0.3% reverse silence 1 0.02 0.3% reverse pad 0.3 0.3 norm -6
python3 "$here/../../tests/audio/dtmf/make_key_wav.py" "$work/keys.wav" "123#" --on 120 --off 180 --amp 6000
sox "$work/speech.wav" "$work/keys.wav" "${OUT[@]}" "$here/caller-message.wav"
