#!/usr/bin/env bash
# Throughput of the agent's DTMF detector (OrvinDtmf.exe --bench, under Wine) against
# spandsp's dtmf_rx (native build), on the same generated signal: 5 runs of each,
# taken in turns, then the medians and their ratio.
# The work is checked: each program fails when a timed pass finds other digits than its
# first, and the digits of every run must be the keys the signal was made of, in order (so
# the two detectors also agree). A wrong digit fails the benchmark with status 1.
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
keys='123A456B789C*0#D'
repeat=5
python3 tests/audio/dtmf/make_key_wav.py "$work/keys.wav" "$keys" \
        --on 60 --off 60 --noise 100 --repeat "$repeat"
expected="$(for _ in $(seq "$repeat"); do printf '%s' "$keys"; done)"
tool="$(realpath "$build/tools/OrvinDtmf/OrvinDtmf.exe")"

last() { tr -d '\r' | tail -n 1 | awk '{print $1}'; }
median() { sort -n | sed -n "$(((runs + 1) / 2))p"; }
fail() {
    echo "dtmf_bench: FAILED: $*" >&2
    exit 1
}
# The digits one run of NAME printed into FILE must be the signal's keys.
check_digits() {
    local got
    got="$(tr -d '\r' <"$2" | sed -n 's/^digits per pass: //p')"
    [ "$got" = "$expected" ] || fail "run $run: $1 found '$got', the signal holds '$expected'"
}

ours=() theirs=()
for run in $(seq "$runs"); do
    o="$(cd "$work" && "$root/$build/wine-run" "$tool" --bench "$seconds" keys.wav | tee "$work/ours.txt" | last)" ||
        fail "run $run: OrvinDtmf --bench failed"
    check_digits OrvinDtmf "$work/ours.txt"
    t="$("$work/dtmf_rx_bench" "$seconds" "$work/keys.wav" | tee "$work/theirs.txt" | last)" ||
        fail "run $run: dtmf_rx_bench failed"
    check_digits dtmf_rx "$work/theirs.txt"
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
echo "digits checked: every run of both found the signal's ${#expected} keys in order"
