// The fuzz programs' entry: the seed, the case count or time, and a last word when an input
// crashes the process (a read past the data into a no-access page ends it at once).
#include "tests/lib/fuzz/Fuzz.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

uint64_t g_seed = 0;
size_t g_cases = 0; // 0: each parser's own count
bool g_casesAsked = false;
uint64_t g_seconds = 0; // 0: count cases
std::mutex g_caseMutex;
char g_currentCase[512] = "none";

bool ParseNumber(const char* text, uint64_t* value) {
    if (!text || !*text) {
        return false;
    }
    char* end = nullptr;
    *value = strtoull(text, &end, 0);
    return end && *end == 0;
}

// Runs only when nothing else handles the fault: the process is about to end.
LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    fprintf(stderr, "\n[fuzz] CRASH: exception 0x%08lx at %p", (unsigned long)record->ExceptionCode,
            record->ExceptionAddress);
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
        fprintf(stderr, " (%s of %p)", record->ExceptionInformation[0] ? "write" : "read",
                (void*)record->ExceptionInformation[1]);
    }
    // No lock: the thread that crashed may hold it.
    fprintf(stderr, "\n[fuzz] seed %llu, input in hand: %s\n", (unsigned long long)g_seed, g_currentCase);
    fflush(stderr);
    return EXCEPTION_EXECUTE_HANDLER;
}

uint64_t Mix(uint64_t value) {
    return FuzzRandom(value).Next();
}

} // namespace

uint64_t FuzzSeed() {
    return g_seed;
}

FuzzRandom FuzzStream(const char* name) {
    uint64_t hash = 1469598103934665603ull; // FNV-1a
    for (const char* c = name; *c; ++c) {
        hash = (hash ^ (uint8_t)*c) * 1099511628211ull;
    }
    return FuzzRandom(Mix(g_seed ^ Mix(hash)));
}

size_t FuzzCases(size_t ownCount) {
    return g_cases ? g_cases : ownCount;
}

double FuzzSecondsAsked() {
    return (double)g_seconds;
}

FuzzBudget::FuzzBudget(size_t ownCount)
    : m_cases(g_seconds && !g_casesAsked ? SIZE_MAX : FuzzCases(ownCount)), m_start(GetTickCount64()),
      m_end(g_seconds ? m_start + g_seconds * 1000 : 0) {}

bool FuzzBudget::More() {
    if (m_done >= m_cases || (m_end && GetTickCount64() >= m_end)) {
        return false;
    }
    ++m_done;
    return true;
}

double FuzzBudget::Seconds() const {
    return FuzzSecondsSince(m_start);
}

std::string HexDump(const uint8_t* bytes, size_t count, size_t limit) {
    std::string text;
    char two[4];
    for (size_t i = 0; i < count && i < limit; ++i) {
        snprintf(two, sizeof two, "%02x", bytes[i]);
        text += two;
        if (i + 1 < count && i + 1 < limit) {
            text += (i % 4 == 3) ? " " : "";
        }
    }
    if (count > limit) {
        text += " ... (" + std::to_string(count) + " bytes)";
    }
    return text;
}

void FuzzSetCurrentCase(const std::string& description) {
    std::lock_guard<std::mutex> lock(g_caseMutex);
    snprintf(g_currentCase, sizeof g_currentCase, "%s", description.c_str());
}

void FuzzReport(const char* parser, size_t cases, double seconds, const std::string& details) {
    printf("[fuzz] %s: seed %llu, %zu cases in %.2f s%s%s\n", parser, (unsigned long long)g_seed, cases,
           seconds, details.empty() ? "" : ", ", details.c_str());
    fflush(stdout);
}

double FuzzSecondsSince(uint64_t start) {
    return (double)(GetTickCount64() - start) / 1000.0;
}

struct FuzzWatchdog::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool armed = false;
    bool quit = false;
    ULONGLONG deadline = 0;
    uint32_t timeoutMs = 0;
    std::string what;
    std::thread thread;
};

FuzzWatchdog::FuzzWatchdog() : m_state(new State) {
    m_state->thread = std::thread([state = m_state] {
        std::unique_lock<std::mutex> lock(state->mutex);
        while (!state->quit) {
            if (!state->armed) {
                state->changed.wait(lock);
                continue;
            }
            const ULONGLONG now = GetTickCount64();
            if (now < state->deadline) {
                state->changed.wait_for(lock, std::chrono::milliseconds(state->deadline - now));
                continue;
            }
            fprintf(stderr, "\n[fuzz] HANG: %s did not return within %u ms (seed %llu)\n",
                    state->what.c_str(), state->timeoutMs, (unsigned long long)g_seed);
            fflush(stderr);
            fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    });
}

FuzzWatchdog::~FuzzWatchdog() {
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->quit = true;
    }
    m_state->changed.notify_all();
    m_state->thread.join();
    delete m_state;
}

void FuzzWatchdog::Arm(uint32_t timeoutMs, const std::string& what) {
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->armed = true;
        m_state->timeoutMs = timeoutMs;
        m_state->deadline = GetTickCount64() + timeoutMs;
        m_state->what = what;
    }
    m_state->changed.notify_all();
}

void FuzzWatchdog::Disarm() {
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->armed = false;
    }
    m_state->changed.notify_all();
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    bool seeded = false;
    uint64_t value = 0;
    if (ParseNumber(getenv("ORVIN_FUZZ_SEED"), &value)) {
        g_seed = value;
        seeded = true;
    }
    if (ParseNumber(getenv("ORVIN_FUZZ_CASES"), &value)) {
        g_cases = (size_t)value;
    }
    if (ParseNumber(getenv("ORVIN_FUZZ_SECONDS"), &value)) {
        g_seconds = value;
    }
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--seed=", 7) == 0 && ParseNumber(argv[i] + 7, &value)) {
            g_seed = value;
            seeded = true;
        } else if (strncmp(argv[i], "--cases=", 8) == 0 && ParseNumber(argv[i] + 8, &value)) {
            g_cases = (size_t)value;
        } else if (strncmp(argv[i], "--seconds=", 10) == 0 && ParseNumber(argv[i] + 10, &value)) {
            g_seconds = value;
        } else {
            fprintf(stderr, "usage: %s [gtest options] [--seed=N] [--cases=N] [--seconds=S]\n", argv[0]);
            return 2;
        }
    }
    g_casesAsked = g_cases != 0;
    if (!seeded) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        g_seed = Mix((uint64_t)now.QuadPart ^ ((uint64_t)GetCurrentProcessId() << 32)) % 1000000000000ull;
    }
    printf("[fuzz] seed %llu (run again with --seed=%llu or ORVIN_FUZZ_SEED=%llu)\n",
           (unsigned long long)g_seed, (unsigned long long)g_seed, (unsigned long long)g_seed);
    if (g_seconds) {
        printf("[fuzz] each budgeted loop runs %llu s\n", (unsigned long long)g_seconds);
    }
    fflush(stdout);
    SetUnhandledExceptionFilter(OnCrash);
    return RUN_ALL_TESTS();
}
