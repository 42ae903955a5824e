#!/usr/bin/env bash
# OrvinSettings.exe's window with 1,000 voice messages in the folder, from the program's
# start to its Messages page shown with every message listed, timed from outside
# (bench_settings_window); beside it, as the floor of the same run, the same window with
# an empty folder. The runs alternate, RUNS of each; target: 1,000 messages in under
# 300 ms (median).
#   tests/bench/settings_bench.sh [RUNS]        default 9
# Prints the medians as `figure NAME VALUE` too. Exit status 1 when a run failed.
set -euo pipefail
cd "$(dirname "$0")/../.."

RUNS=${1:-9}
BUILD_DIR="${BUILD_DIR:-build}"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" -j 2 --target OrvinSettings bench_settings_window >/dev/null

RUN="$BUILD_DIR/wine-run"
SETTINGS="$BUILD_DIR/src/settings/OrvinSettings.exe"
BENCH="$BUILD_DIR/tests/bench/settings/bench_settings_window.exe"
WORK=$(mktemp -d)
PREFIX=$("$RUN" --env | sed -n 's/^WINEPREFIX=\([^ ]*\) .*/\1/p')
mkdir -p "$PREFIX"
source tests/bench/bench-lib.sh
FULL='SOFTWARE\OrvinBench\Settings1000'
EMPTY='SOFTWARE\OrvinBench\Settings0'

SERVER_BEFORE=$(prefix_server)
cleanup() {
    "$RUN" reg delete 'HKLM\SOFTWARE\OrvinBench' /f </dev/null >/dev/null 2>&1 || true
    rm -rf "$WORK"
    [ -n "$SERVER_BEFORE" ] || "$RUN" --stop
}
trap cleanup EXIT
"$RUN" --start

# Two installations, each with its voice-mail folder: 1,000 messages of 3 s, and none.
for count in 1000 0; do
    folder="$WORK/install$count"
    mkdir -p "$folder/IVR/VoiceMail" "$folder/IVR/English"
    cp data/IVR/English/Menu.cfg "$folder/IVR/English/"
    key='HKLM\SOFTWARE\OrvinBench\Settings'$count
    "$RUN" reg add "$key" /v SoftwareInstallationFolder /d "$(winpath "$folder")" /f </dev/null >/dev/null 2>&1
    "$RUN" reg add "$key\\Config\\IVR" /v SupportedLanguages /d English /f </dev/null >/dev/null 2>&1
done
sox -n -r 8000 -c 1 -b 16 "$WORK/message.wav" synth 3 sine 440 vol 0.3 2>/dev/null
for i in $(seq 1000); do
    cp "$WORK/message.wav" "$WORK/install1000/IVR/VoiceMail/vm2026$(printf %04d "$i").wav"
done

# A first start of each, not counted: the program's pages and the folder in the cache.
"$RUN" "$BENCH" 1 1000 "$SETTINGS" --page messages --root "$FULL" >/dev/null
"$RUN" "$BENCH" 1 0 "$SETTINGS" --page messages --root "$EMPTY" >/dev/null
full=() empty=()
for run in $(seq "$RUNS"); do
    full+=("$("$RUN" "$BENCH" 1 1000 "$SETTINGS" --page messages --root "$FULL" | sed -n 's/^median_ms=//p')")
    empty+=("$("$RUN" "$BENCH" 1 0 "$SETTINGS" --page messages --root "$EMPTY" | sed -n 's/^median_ms=//p')")
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
m_full=$(median "${full[@]}")
m_empty=$(median "${empty[@]}")
echo "window with 1000 messages: ${full[*]} ms"
echo "window with none (floor):  ${empty[*]} ms"
echo "median: 1000 messages ${m_full} ms, none ${m_empty} ms (floor), difference $(awk -v a="$m_full" -v b="$m_empty" 'BEGIN { printf "%.1f", a - b }') ms, ratio $(awk -v a="$m_full" -v b="$m_empty" 'BEGIN { printf "%.2f", a / b }'); target: under 300 ms"
echo "figure settings_window_1000_messages_ms $m_full"
echo "figure settings_window_empty_ms $m_empty"
awk -v a="$m_full" 'BEGIN { exit !(a < 300) }' || echo "the 1000-message median misses its 300 ms target"
