#!/usr/bin/env bash
# Throughput of the agent's DTMF detector (OrvinDtmf.exe --bench, under Wine) against
# spandsp's dtmf_rx (native build), on the same generated signal: 5 runs of each,
# taken in turns, then the medians and their ratio.
#   tests/bench/dtmf_bench.sh [SECONDS_PER_RUN]     (default 3)
# BUILD_DIR names the Windows build folder (default: build); OrvinDtmf is built there
# if needed, the dtmf_rx driver with the host compiler in a temporary folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$root"
build="${BUILD_DIR:-build}"
seconds="${1:-3}"
runs=5

work="$(mktemp -d)"
trap 'rm -rf "$work"; [ -x "$build/wine-run" ] && "$build/wine-run" --stop' EXIT

if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
          -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j 2 --target OrvinDtmf >/dev/null
gcc -O2 -o "$work/dtmf_rx_bench" tests/bench/dtmf_rx_bench.c -lspandsp -lm
"$build/wine-run" --start

# The sixteen keys, 60 ms on and 60 ms off, five times (9.6 s), over faint noise: half key
# tones, half pause, as a caller keying in numbers.
python3 tests/audio/dtmf/make_key_wav.py "$work/keys.wav" '123A456B789C*0#D' \
        --on 60 --off 60 --noise 100 --repeat 5
tool="$(realpath "$build/tools/OrvinDtmf/OrvinDtmf.exe")"

last() { tr -d '\r' | tail -n 1 | awk '{print $1}'; }
median() { sort -n | sed -n "$(((runs + 1) / 2))p"; }

ours=() theirs=()
for run in $(seq "$runs"); do
    o="$(cd "$work" && "$root/$build/wine-run" "$tool" --bench "$seconds" keys.wav | tee "$work/ours.txt" | last)"
    t="$("$work/dtmf_rx_bench" "$seconds" "$work/keys.wav" | tee "$work/theirs.txt" | last)"
    ours+=("$o")
    theirs+=("$t")
    printf 'run %d: OrvinDtmf %s samples/s, dtmf_rx %s samples/s\n' "$run" "$o" "$t"
done
echo "OrvinDtmf $(tr -d '\r' <"$work/ours.txt" | head -n 1)"
echo "dtmf_rx   $(head -n 1 "$work/theirs.txt")"

m_ours="$(printf '%s\n' "${ours[@]}" | median)"
m_theirs="$(printf '%s\n' "${theirs[@]}" | median)"
echo "median OrvinDtmf: $m_ours samples/s"
echo "median dtmf_rx:   $m_theirs samples/s"
awk -v a="$m_ours" -v b="$m_theirs" 'BEGIN { printf "ratio OrvinDtmf/dtmf_rx: %.2f\n", a / b }'
