// OrvinPowerEvent.exe: sends WM_POWERBROADCAST to top-level windows the way the system
// asks programs about a change of power state, and prints what each window answered. A
// program refuses a standby query by answering BROADCAST_QUERY_DENY (0x424D5144).
//
// The agent answers a refused query only after the user has confirmed a system-modal
// message box, so --dismiss watches for that box (a dialog of class "#32770" of the
// process being asked) while the query waits, prints its text and presses its OK button.
//
// Threads: a worker sends to one window after the other; the main thread watches for
// the boxes meanwhile. Output lines are written under one lock.
#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

enum ExitStatus {
    kExitOk = 0,       // at least one window answered
    kExitNoAnswer = 1, // no window matched, or none answered
    kExitBadUsage = 2,
};

constexpr DWORD kDefaultTimeoutMs = 5000;
constexpr DWORD kMaxTimeoutMs = 600000;
constexpr DWORD kWatchPeriodMs = 50;      // how often --dismiss looks for the box
constexpr DWORD kPressAgainMs = 1000;     // a box still there after a press is pressed again
constexpr int kMessageBoxTextId = 0xFFFF; // the static control of a message box's text

struct EventName {
    const char* name;
    WPARAM event;
};

// The PBT_ codes of WM_POWERBROADCAST.
const EventName kEvents[] = {
    {"query-suspend", PBT_APMQUERYSUSPEND},
    {"query-standby", 1},
    {"query-suspend-failed", PBT_APMQUERYSUSPENDFAILED},
    {"query-standby-failed", 3},
    {"suspend", PBT_APMSUSPEND},
    {"standby", 5},
    {"resume-critical", PBT_APMRESUMECRITICAL},
    {"resume-suspend", PBT_APMRESUMESUSPEND},
    {"resume-standby", 8},
    {"battery-low", PBT_APMBATTERYLOW},
    {"power-status-change", PBT_APMPOWERSTATUSCHANGE},
    {"oem-event", PBT_APMOEMEVENT},
    {"resume-automatic", PBT_APMRESUMEAUTOMATIC},
};

const char kHelp[] = R"(OrvinPowerEvent - sends a power event to top-level windows and prints their answers.

usage: OrvinPowerEvent.exe EVENT [--title TEXT] [--process NAME] [--window HANDLE]
                           [--lparam N] [--timeout MS] [--dismiss]

EVENT: query-suspend (0; lParam 1 unless --lparam), query-standby (1),
       query-suspend-failed (2), query-standby-failed (3), suspend (4), standby (5),
       resume-critical (6), resume-suspend (7), resume-standby (8), battery-low (9),
       power-status-change (10), oem-event (11), resume-automatic (18), or a number.

Sends WM_POWERBROADCAST with EVENT to every top-level window (as the system does), or
to those that match every filter given, one after the other, each with
SendMessageTimeout (SMTO_ABORTIFHUNG).

Options:
  --title TEXT     only windows with this title ("MessageOnlyWindowTitle")
  --process NAME   only windows of processes with this image name (OrvinAgent.exe)
  --window HANDLE  only this window (0x hex or decimal)
  --lparam N       the lParam (default 1 for query-suspend and query-standby, else 0)
  --timeout MS     how long to wait for each window (default 5000)
  --dismiss        while a window has not answered, press OK on the message box
                   (class "#32770") its process shows, printing: dismissed "TEXT" ...
  --help           this text

Output: one line per window that answered:
  window=0x... answer=0x424D5144 title="..." class="..." process=NAME
(no-answer lines for the others), then "answered N" and "denied N" (answers equal to
BROADCAST_QUERY_DENY, 0x424D5144).

Exit status: 0 when at least one window answered, 1 otherwise, 2 for bad usage.
)";

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), out.data(), size, nullptr, nullptr);
    return out;
}

// The arguments as UTF-8: main's own are in the ANSI code page.
std::vector<std::string> Arguments() {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; list && i < count; ++i) {
        args.push_back(Utf8(list[i]));
    }
    LocalFree(list);
    return args;
}

// A text for a quoted field: quotes, backslashes and control characters escaped.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

bool ParseNumber(const std::string& text, unsigned long long max, unsigned long long* out) {
    if (text.empty() || text[0] == '-') {
        return false;
    }
    char* end = nullptr;
    unsigned long long value = strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || value > max) {
        return false;
    }
    *out = value;
    return true;
}

unsigned long long HandleValue(HWND window) {
    return (unsigned long long)(ULONG_PTR)window;
}

std::string WindowText(HWND window) {
    wchar_t text[1024];
    int length = GetWindowTextW(window, text, ARRAYSIZE(text));
    return Utf8(std::wstring(text, length > 0 ? length : 0));
}

std::string ClassOf(HWND window) {
    wchar_t name[256];
    int length = GetClassNameW(window, name, ARRAYSIZE(name));
    return Utf8(std::wstring(name, length > 0 ? length : 0));
}

std::string ProcessName(DWORD pid) {
    HANDLE process = pid ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid) : nullptr;
    if (!process) {
        return "?";
    }
    wchar_t path[MAX_PATH];
    DWORD size = ARRAYSIZE(path);
    std::string name = "?";
    if (QueryFullProcessImageNameW(process, 0, path, &size)) {
        std::wstring full(path, size);
        size_t slash = full.find_last_of(L"\\/");
        name = Utf8(slash == std::wstring::npos ? full : full.substr(slash + 1));
    }
    CloseHandle(process);
    return name;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM list) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        (LPARAM)&windows);
    return windows;
}

struct Target {
    HWND window;
    DWORD pid;
    std::string title;
    std::string className;
    std::string process;
};

struct Options {
    WPARAM event = 0;
    std::string eventName;
    bool lParamGiven = false;
    LPARAM lParam = 0;
    std::string title;
    bool titleGiven = false;
    std::string process;
    HWND window = nullptr;
    DWORD timeoutMs = kDefaultTimeoutMs;
    bool dismiss = false;
};

bool ParseEvent(const std::string& text, Options* options) {
    for (const EventName& known : kEvents) {
        if (text == known.name) {
            options->event = known.event;
            options->eventName = known.name;
            return true;
        }
    }
    unsigned long long number = 0;
    if (!ParseNumber(text, 0xFFFFFFFFull, &number)) {
        return false;
    }
    options->event = (WPARAM)number;
    for (const EventName& known : kEvents) {
        if (known.event == options->event) {
            options->eventName = known.name;
        }
    }
    return true;
}

bool ParseOptions(const std::vector<std::string>& args, Options* options, bool* help) {
    bool eventGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                fprintf(stderr, "OrvinPowerEvent: %s needs a value\n", arg.c_str());
                return false;
            }
            *out = args[++i];
            return true;
        };
        auto number = [&](unsigned long long max, unsigned long long* out) {
            std::string text;
            if (!value(&text)) {
                return false;
            }
            if (!ParseNumber(text, max, out)) {
                fprintf(stderr, "OrvinPowerEvent: bad value '%s' for %s\n", text.c_str(), arg.c_str());
                return false;
            }
            return true;
        };
        unsigned long long n = 0;
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            *help = true;
            return true;
        } else if (arg == "--title") {
            if (!value(&options->title)) {
                return false;
            }
            options->titleGiven = true;
        } else if (arg == "--process") {
            if (!value(&options->process)) {
                return false;
            }
        } else if (arg == "--window") {
            if (!number(~0ull, &n) || n == 0) {
                return false;
            }
            options->window = (HWND)(ULONG_PTR)n;
        } else if (arg == "--lparam") {
            if (!number(~0ull, &n)) {
                return false;
            }
            options->lParam = (LPARAM)n;
            options->lParamGiven = true;
        } else if (arg == "--timeout") {
            if (!number(kMaxTimeoutMs, &n)) {
                return false;
            }
            options->timeoutMs = (DWORD)n;
        } else if (arg == "--dismiss") {
            options->dismiss = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            fprintf(stderr, "OrvinPowerEvent: unknown option %s (see --help)\n", arg.c_str());
            return false;
        } else if (eventGiven) {
            fprintf(stderr, "OrvinPowerEvent: more than one event given\n");
            return false;
        } else if (!ParseEvent(arg, options)) {
            fprintf(stderr, "OrvinPowerEvent: unknown event '%s' (see --help)\n", arg.c_str());
            return false;
        } else {
            eventGiven = true;
        }
    }
    if (!eventGiven) {
        fprintf(stderr, "OrvinPowerEvent: no event given (see --help)\n");
        return false;
    }
    if (!options->lParamGiven) {
        // The system allows a user interface for the queries (bit 0).
        options->lParam = options->event == PBT_APMQUERYSUSPEND || options->event == 1 ? 1 : 0;
    }
    return true;
}

std::vector<Target> FindTargets(const Options& options) {
    std::vector<Target> targets;
    for (HWND window : TopLevelWindows()) {
        Target target{window, 0, WindowText(window), ClassOf(window), {}};
        GetWindowThreadProcessId(window, &target.pid);
        if (target.pid == GetCurrentProcessId() || (options.window && window != options.window) ||
            (options.titleGiven && target.title != options.title)) {
            continue;
        }
        target.process = ProcessName(target.pid);
        if (!options.process.empty() && lstrcmpiA(target.process.c_str(), options.process.c_str()) != 0) {
            continue;
        }
        targets.push_back(target);
    }
    return targets;
}

class Output {
public:
    void Line(const std::string& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        printf("%s\n", text.c_str());
        fflush(stdout);
    }

private:
    std::mutex m_mutex;
};

// Presses OK on the message boxes a process shows; each box once, and again when it is
// still there a while later (a press can be lost while the box is being built).
class BoxDismisser {
public:
    explicit BoxDismisser(Output& output) : m_output(output) {}

    void Scan(DWORD pid) {
        ULONGLONG now = GetTickCount64();
        for (HWND box : TopLevelWindows()) {
            DWORD owner = 0;
            GetWindowThreadProcessId(box, &owner);
            // Visible: the box has been initialised (its text set) and runs its loop.
            if (owner != pid || ClassOf(box) != "#32770" || !IsWindowVisible(box)) {
                continue;
            }
            Pressed* pressed = Find(box);
            if (pressed) {
                if (now - pressed->at >= kPressAgainMs) {
                    Press(box);
                    pressed->at = now;
                }
                continue;
            }
            m_output.Line("dismissed " + Quoted(BoxText(box)) + " caption=" + Quoted(WindowText(box)) +
                          " window=0x" + Hex(HandleValue(box)));
            Press(box);
            m_pressed.push_back({box, now});
        }
    }

private:
    struct Pressed {
        HWND box;
        ULONGLONG at;
    };

    Pressed* Find(HWND box) {
        for (Pressed& pressed : m_pressed) {
            if (pressed.box == box) {
                return &pressed;
            }
        }
        return nullptr;
    }

    static std::string Hex(unsigned long long value) {
        char text[32];
        snprintf(text, sizeof text, "%llX", value);
        return text;
    }

    // The message box's text: its static control 0xFFFF, or else the first static
    // control with a text.
    static std::string BoxText(HWND box) {
        HWND text = GetDlgItem(box, kMessageBoxTextId);
        if (text) {
            return WindowText(text);
        }
        std::string found;
        EnumChildWindows(
            box,
            [](HWND child, LPARAM out) -> BOOL {
                auto* found = reinterpret_cast<std::string*>(out);
                if (lstrcmpiA(ClassOf(child).c_str(), "Static") == 0 && !WindowText(child).empty()) {
                    *found = WindowText(child);
                    return FALSE;
                }
                return TRUE;
            },
            (LPARAM)&found);
        return found;
    }

    // Posted: the box's thread is inside the query this program waits for.
    static void Press(HWND box) {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
    }

    Output& m_output;
    std::vector<Pressed> m_pressed;
};

} // namespace

int main() {
    Options options;
    bool help = false;
    if (!ParseOptions(Arguments(), &options, &help)) {
        return kExitBadUsage;
    }
    if (help) {
        fputs(kHelp, stdout);
        return kExitOk;
    }

    std::vector<Target> targets = FindTargets(options);
    Output output;
    char line[2048];
    snprintf(line, sizeof line, "event %llu (%s) lParam=%lld to %u window(s)",
             (unsigned long long)options.event, options.eventName.empty() ? "?" : options.eventName.c_str(),
             (long long)options.lParam, (unsigned)targets.size());
    output.Line(line);

    std::atomic<DWORD> askedPid{0}; // the process of the window being asked, 0 between
    std::atomic<bool> done{false};
    int answered = 0;
    int denied = 0;
    std::thread sender([&] {
        char line[2048];
        for (const Target& target : targets) {
            askedPid = target.pid;
            DWORD_PTR result = 0;
            SetLastError(0);
            BOOL ok = SendMessageTimeoutW(target.window, WM_POWERBROADCAST, options.event, options.lParam,
                                          SMTO_NORMAL | SMTO_ABORTIFHUNG, options.timeoutMs, &result);
            DWORD error = GetLastError();
            askedPid = 0;
            std::string fields = "title=" + Quoted(target.title) + " class=" + Quoted(target.className) +
                                 " process=" + target.process;
            if (ok) {
                ++answered;
                if (result == BROADCAST_QUERY_DENY) {
                    ++denied;
                }
                snprintf(line, sizeof line, "window=0x%llX answer=0x%llX %s", HandleValue(target.window),
                         (unsigned long long)result, fields.c_str());
            } else {
                snprintf(line, sizeof line, "window=0x%llX no-answer error=%lu %s",
                         HandleValue(target.window), error, fields.c_str());
            }
            output.Line(line);
        }
        done = true;
    });

    BoxDismisser dismisser(output);
    while (!done) {
        DWORD pid = askedPid;
        if (options.dismiss && pid) {
            dismisser.Scan(pid);
        }
        Sleep(kWatchPeriodMs);
    }
    sender.join();

    output.Line("answered " + std::to_string(answered));
    output.Line("denied " + std::to_string(denied));
    return answered > 0 ? kExitOk : kExitNoAnswer;
}
