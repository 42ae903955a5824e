// Seeded fuzzing of what reaches the agent from outside: the device link's bytes, the
// softphones' and sibling programs' window messages, the files it reads, the recorder
// driver's records. Every fuzz program links Fuzz.cpp, which holds its main.
//
// One seed drives a whole run. Each parser draws from a stream of its own, derived from the
// seed and the parser's name, so a parser run alone (--gtest_filter) with the same seed
// meets the same inputs. The seed comes from --seed=N or ORVIN_FUZZ_SEED, else from the
// clock, and is printed before anything runs. --cases=N (or ORVIN_FUZZ_CASES) replaces
// every parser's own case count, and --seconds=S (or ORVIN_FUZZ_SECONDS) lets each loop
// that counts with FuzzBudget run for S seconds instead, for a longer hunt.
//
// What goes through a pipe or another thread also depends on timing, so a seed reproduces
// the inputs, not every interleaving of the threads that carry them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// splitmix64: small, fast, and the same sequence on every platform and library.
class FuzzRandom {
public:
    explicit FuzzRandom(uint64_t seed) : m_state(seed) {}

    uint64_t Next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t U32() { return (uint32_t)(Next() >> 32); }
    // 0 .. n-1; n > 0.
    uint32_t Below(uint32_t n) { return (uint32_t)(Next() % n); }
    // lo .. hi, both included.
    uint32_t Range(uint32_t lo, uint32_t hi) { return lo + (uint32_t)(Next() % ((uint64_t)hi - lo + 1)); }
    bool Percent(uint32_t p) { return Below(100) < p; }
    void Fill(uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            bytes[i] = (uint8_t)Next();
        }
    }
    std::vector<uint8_t> Bytes(size_t count) {
        std::vector<uint8_t> bytes(count);
        Fill(bytes.data(), count);
        return bytes;
    }
    template <typename T, size_t N> T Pick(const T (&choices)[N]) { return choices[Below((uint32_t)N)]; }

private:
    uint64_t m_state;
};

// A few texts that readers of numbers trip on, and random digits.
inline std::string FuzzNumberText(FuzzRandom& r) {
    static const char* const kEdges[] = {"0",          "-1",         "1",
                                         "2147483647", "2147483648", "-2147483648",
                                         "4294967295", "4294967296", "99999999999999999999999",
                                         "+7",         "007",        "0x10",
                                         "1e3",        "-",          "12abc"};
    if (r.Percent(40)) {
        return r.Pick(kEdges);
    }
    std::string digits;
    const uint32_t count = r.Range(1, r.Percent(90) ? 6 : 30);
    for (uint32_t i = 0; i < count; ++i) {
        digits += (char)('0' + r.Below(10));
    }
    return digits;
}

uint64_t FuzzSeed();
// The stream of one parser (or of one part of it): the same for the same seed and name.
FuzzRandom FuzzStream(const char* name);
// The case count to run: `ownCount` unless the run asks for another.
size_t FuzzCases(size_t ownCount);
// The seconds each budgeted loop runs for; 0 when the run counts cases.
double FuzzSecondsAsked();

// The cases of one loop: `ownCount` of them, or --cases=N, or with --seconds=S as many as
// S seconds hold (and no more than N when both are given).
class FuzzBudget {
public:
    explicit FuzzBudget(size_t ownCount);
    // True when another case is due; counts it.
    bool More();
    size_t Done() const { return m_done; }
    double Seconds() const;

private:
    size_t m_cases;
    size_t m_done = 0;
    uint64_t m_start;
    uint64_t m_end; // 0: no time limit
};
// Hex of at most `limit` bytes, for failure reports.
std::string HexDump(const uint8_t* bytes, size_t count, size_t limit = 192);
inline std::string HexDump(const std::vector<uint8_t>& bytes, size_t limit = 192) {
    return HexDump(bytes.data(), bytes.size(), limit);
}
// What a crash report names as the input in hand: parsers keep it up to date.
void FuzzSetCurrentCase(const std::string& description);
// One line per parser: seed, cases run, time taken and what the parser adds.
void FuzzReport(const char* parser, size_t cases, double seconds, const std::string& details);
// Seconds since `start` (a GetTickCount64 value).
double FuzzSecondsSince(uint64_t start);

// Ends the process with a report when a call it watches does not return in time: a hang
// is a finding, and waiting it out would only end in the test runner's time-out.
class FuzzWatchdog {
public:
    FuzzWatchdog();
    ~FuzzWatchdog();
    FuzzWatchdog(const FuzzWatchdog&) = delete;
    FuzzWatchdog& operator=(const FuzzWatchdog&) = delete;
    void Arm(uint32_t timeoutMs, const std::string& what);
    void Disarm();

private:
    struct State;
    State* m_state;
};
