// bench_settings_window: how long OrvinSettings.exe takes to show its window with the
// messages listed, timed from outside as a user would see it: from CreateProcess to a
// visible "OrvinAgent Settings" sheet of that process whose Messages list holds COUNT
// rows. Each run then closes the sheet (Cancel) and waits for the program's end.
//   bench_settings_window.exe RUNS COUNT PROGRAM ARGS...
// Prints one line per run (run=N ms=X) and median_ms=X. Exit status 1 when a run did not
// show the window within 20 s, 2 for bad usage.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kMessagesList = 1302;

struct Search {
    DWORD processId;
    HWND found;
};

HWND SheetOf(DWORD processId) {
    Search search{processId, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* search = reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            char title[64] = {};
            GetWindowTextA(window, title, sizeof title);
            if (owner == search->processId && IsWindowVisible(window) &&
                strcmp(title, "OrvinAgent Settings") == 0) {
                search->found = window;
                return FALSE;
            }
            return TRUE;
        },
        (LPARAM)&search);
    return search.found;
}

// Milliseconds to the window with `count` rows; -1 when it did not come.
double OneRun(const std::string& commandLine, long count) {
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return -1;
    }
    double ms = -1;
    HWND sheet = nullptr;
    for (;;) {
        QueryPerformanceCounter(&now);
        const double elapsed = (double)(now.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
        if (elapsed > 20000) {
            break;
        }
        sheet = sheet ? sheet : SheetOf(process.dwProcessId);
        HWND page = sheet ? (HWND)SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0) : nullptr;
        HWND list = page ? GetDlgItem(page, kMessagesList) : nullptr;
        if (list && IsWindowVisible(list) && SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == count) {
            ms = elapsed;
            break;
        }
        Sleep(1);
    }
    if (sheet) {
        PostMessageA(sheet, WM_COMMAND, IDCANCEL, 0);
    }
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        fputs("usage: bench_settings_window.exe RUNS COUNT PROGRAM ARGS...\n", stderr);
        return 2;
    }
    const int runs = atoi(argv[1]);
    const long count = atol(argv[2]);
    std::string commandLine = std::string("\"") + argv[3] + "\"";
    for (int i = 4; i < argc; ++i) {
        commandLine += std::string(" \"") + argv[i] + "\"";
    }
    std::vector<double> times;
    for (int run = 1; run <= runs; ++run) {
        const double ms = OneRun(commandLine, count);
        if (ms < 0) {
            fprintf(stderr, "run %d: no window with %ld messages within 20 s\n", run, count);
            return 1;
        }
        printf("run=%d ms=%.1f\n", run, ms);
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    printf("median_ms=%.1f\n", n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2);
    return 0;
}
