// Key tones for the detector tests, made on the fly: 8000 Hz, 16-bit mono.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace dtmftest {

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kRate = 8000;
constexpr uint32_t kBlock = 80; // samples in a 10 ms block at 8000 Hz
constexpr double kRowHz[4] = {697, 770, 852, 941};
constexpr double kColHz[4] = {1209, 1336, 1477, 1633};
constexpr const char* kKeys = "123A456B789C*0#D";

using Signal = std::vector<int16_t>;

inline int16_t Clip(double v) {
    return (int16_t)std::clamp(std::lround(v), -32768L, 32767L);
}

// Adds up to three sines of the given peak amplitudes (0 leaves a tone out).
inline void AppendTones(Signal& s, uint32_t ms, double f1, double a1, double f2 = 0, double a2 = 0,
                        double f3 = 0, double a3 = 0, uint32_t rate = kRate) {
    const double w = 2 * kPi / rate;
    const uint32_t n = ms * rate / 1000;
    for (uint32_t i = 0; i < n; ++i) {
        s.push_back(Clip(a1 * std::sin(w * f1 * i) + a2 * std::sin(w * f2 * i) + a3 * std::sin(w * f3 * i)));
    }
}

inline void AppendKey(Signal& s, char key, uint32_t ms, double amplitude = 3000, uint32_t rate = kRate) {
    const size_t at = std::strchr(kKeys, key) - kKeys;
    AppendTones(s, ms, kRowHz[at / 4], amplitude, kColHz[at % 4], amplitude, 0, 0, rate);
}

inline void AppendSilence(Signal& s, uint32_t ms, uint32_t rate = kRate) {
    s.insert(s.end(), ms * rate / 1000, 0);
}

// Zeroes whole blocks, as a dropout on the line would.
inline void DropBlocks(Signal& s, uint32_t firstBlock, uint32_t count) {
    std::fill(s.begin() + firstBlock * kBlock, s.begin() + (firstBlock + count) * kBlock, 0);
}

} // namespace dtmftest
