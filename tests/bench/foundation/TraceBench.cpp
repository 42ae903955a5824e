// Trace file sink: lines per second, each line written and flushed on its own, from one
// thread and from four at once. After every run the file is read back: every line must be
// there, whole, each thread's lines in the order written; otherwise the run failed and the
// benchmark exits with status 1.
//   bench_trace [lines per run]
// Sets the trace settings in the registry for the run and removes them afterwards.
#include "base/trace/Trace.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kKey = "Software\\Velcora\\Quendo";
constexpr DWORD kFileSink = 3; // DebugType of the file sink
constexpr int kRuns = 5;
constexpr int kThreads = 4;
const std::string kTag = "{OrvinAgent} ";

// A line as an adapter event writes it; `thread` and `index` make every line unique.
void WriteLine(int thread, int index) {
    TRACE("IOMAN: %d: Event from Adapter: %s, Info = 0x%x", thread, "MSG_TYPE_HW_EVENT: NOTIFY_HOOK_STATE",
          index);
}

// The file as it holds that line: the trace entry's line feed, then the file's line end.
std::string Expected(int thread, int index) {
    char text[160];
    snprintf(text, sizeof text,
             "IOMAN: %d: Event from Adapter: MSG_TYPE_HW_EVENT: NOTIFY_HOOK_STATE, Info = 0x%x\n\r\n", thread,
             index);
    return kTag + text;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Checks the file of one run: the start line, then `threads` x `lines` lines, each whole and
// each thread's in order. Prints the first fault and returns false.
bool Verify(const std::string& path, int threads, int lines) {
    const std::string all = ReadAll(path);
    const std::string started = kTag + "Log Started Succesfully!\r\n";
    if (all.compare(0, started.size(), started) != 0) {
        fprintf(stderr, "bench_trace: the file does not begin with the start line\n");
        return false;
    }
    std::vector<int> next(threads, 0);
    size_t at = started.size();
    for (int n = 0; n < threads * lines; ++n) {
        // Which thread wrote this line: its number follows "IOMAN: ".
        const std::string prefix = kTag + "IOMAN: ";
        int thread = -1;
        if (all.compare(at, prefix.size(), prefix) == 0) {
            thread = atoi(all.c_str() + at + prefix.size());
        }
        if (thread < 0 || thread >= threads || next[thread] >= lines) {
            fprintf(stderr, "bench_trace: line %d is no line of ours: \"%.100s\"\n", n + 2, all.c_str() + at);
            return false;
        }
        const std::string expected = Expected(thread, next[thread]);
        if (all.compare(at, expected.size(), expected) != 0) {
            fprintf(stderr, "bench_trace: line %d is not thread %d's line %d, whole: \"%.100s\"\n", n + 2,
                    thread, next[thread], all.c_str() + at);
            return false;
        }
        ++next[thread];
        at += expected.size();
    }
    if (at != all.size()) {
        fprintf(stderr, "bench_trace: %zu bytes more than were written\n", all.size() - at);
        return false;
    }
    return true;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

// One run: a fresh file, `threads` writers of `lines` lines each. Returns lines per second,
// or a negative value when the file does not hold what was written.
double Run(const std::string& file, int threads, int lines) {
    orvin::TraceStop();
    orvin::TraceStart();
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    if (threads == 1) {
        for (int i = 0; i < lines; ++i) {
            WriteLine(0, i);
        }
    } else {
        std::vector<std::thread> writers;
        for (int t = 0; t < threads; ++t) {
            writers.emplace_back([t, lines] {
                for (int i = 0; i < lines; ++i) {
                    WriteLine(t, i);
                }
            });
        }
        for (auto& writer : writers) {
            writer.join();
        }
    }
    QueryPerformanceCounter(&end);
    orvin::TraceStop();
    if (!Verify(file, threads, lines)) {
        return -1;
    }
    return threads * lines / Seconds(start, end);
}

} // namespace

int main(int argc, char** argv) {
    const int lines = argc > 1 ? atoi(argv[1]) : 20000;
    if (lines < kThreads) {
        fprintf(stderr, "usage: bench_trace [lines per run]\n");
        return 2;
    }
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    const std::string file = std::string(dir) + "orvin-trace-bench.log";
    DWORD type = kFileSink;
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kKey, "DebugType", REG_DWORD, &type, sizeof type);
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kKey, "DebugFile", REG_SZ, file.c_str(), (DWORD)file.size() + 1);

    bool ok = true;
    std::vector<double> single, shared;
    for (int run = 0; run < kRuns && ok; ++run) {
        single.push_back(Run(file, 1, lines));
        shared.push_back(Run(file, kThreads, lines / kThreads));
        ok = single.back() > 0 && shared.back() > 0;
    }
    orvin::TraceStop();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
    DeleteFileA(file.c_str());
    if (!ok) {
        fprintf(stderr, "bench_trace: FAILED, the trace file does not hold the lines written\n");
        return 1;
    }
    std::sort(single.begin(), single.end());
    std::sort(shared.begin(), shared.end());
    printf("trace file sink: %d lines per run, median of %d runs: %.0f lines/s (min %.0f, max %.0f)\n", lines,
           kRuns, single[kRuns / 2], single[0], single[kRuns - 1]);
    printf(
        "trace file sink, %d threads: %d lines per run, median of %d runs: %.0f lines/s (min %.0f, max %.0f)\n",
        kThreads, lines / kThreads * kThreads, kRuns, shared[kRuns / 2], shared[0], shared[kRuns - 1]);
    printf("every line read back whole and in order\n");
    return 0;
}
