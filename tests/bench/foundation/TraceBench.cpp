// Trace file sink: lines per second, each line written and flushed on its own.
//   bench_trace [lines per run]
// Sets the trace settings in the registry for the run and removes them afterwards.
#include "Trace.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const int lines = argc > 1 ? atoi(argv[1]) : 20000;
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    const std::string file = std::string(dir) + "orvin-trace-bench.log";
    const char* key = "Software\\Velcora\\Quendo";
    DWORD type = orvin::kTraceFile;
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, "DebugType", REG_DWORD, &type, sizeof type);
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, "DebugFile", REG_SZ, file.c_str(), (DWORD)file.size() + 1);

    std::vector<double> rates;
    for (int run = 0; run < 5; ++run) {
        orvin::TraceStop();
        orvin::TraceStart();
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        for (int i = 0; i < lines; ++i) {
            TRACE("IOMAN: %d: Event from Adapter: %s, Info = 0x%x", 0, "MSG_TYPE_HW_EVENT: NOTIFY_HOOK_STATE",
                  i);
        }
        QueryPerformanceCounter(&end);
        rates.push_back(lines / (double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart)));
    }
    orvin::TraceStop();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
    DeleteFileA(file.c_str());
    std::sort(rates.begin(), rates.end());
    printf("trace file sink: %d lines per run, median of 5 runs: %.0f lines/s (min %.0f, max %.0f)\n", lines,
           rates[2], rates[0], rates[4]);
    return 0;
}
