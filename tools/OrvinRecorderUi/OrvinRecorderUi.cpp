// OrvinRecorderUi.exe: a stand-in for the call recorder's user interface, the program a
// user starts and stops call recordings with. It speaks the agent's registered message
// "ORVIN_RECORDER_INTERFACE_MESSAGE" to the agent's main dialog (wParam: 1 start, 2 stop,
// 4 the interface is alive, 16 the settings changed, 32 is a recording running; lParam:
// the interface's own window) and prints what the agent answers. The agent tells its
// window when a recording starts or stops (wParam 8, lParam 1 or 2); every such
// notification is printed as it comes.
//
// Single-threaded: the window, the commands and the waits all run on the main thread,
// which keeps the window's messages flowing while it waits (the agent's notifications
// come while a request to it is still under way). The reader of standard input
// (--interactive) has a thread of its own and hands whole lines over.
#include "SimCommon/InputLines.h"
#include "SimCommon/ScriptText.h"
#include "SimCommon/SimLog.h"

#include <windows.h>
#include <shellapi.h>

#include <climits>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using orvin::sim::SimLog;

namespace {

using orvin::sim::InputLines;

enum ExitStatus {
    kExitOk = 0,
    kExitFailed = 1,   // a command could not be done (no agent, a wait ran out)
    kExitBadUsage = 2, // bad options or commands
};

constexpr DWORD kDefaultWaitMs = 10000;
constexpr DWORD kMaxMs = 24 * 3600 * 1000;
constexpr UINT kSendTimeoutMs = 10000;
constexpr WPARAM kStart = 1, kStop = 2, kAlive = 4, kNotification = 8, kSettings = 16, kQuery = 32;

const char kHelp[] = R"(OrvinRecorderUi - stand-in for the call recorder's user interface.

usage: OrvinRecorderUi.exe [--log FILE] [--agent-process NAME] [--agent-window HANDLE]
                           [--quiet] (--script "CMD;CMD..." | --interactive)

Owns a hidden top-level window and sends the registered message
"ORVIN_RECORDER_INTERFACE_MESSAGE" to the agent's main dialog (a "#32770" window titled
"OrvinAgent" of a process named OrvinAgent.exe), wParam the command, lParam its own
window. Prints each answer as NAME=VALUE on standard output, and each notification the
agent sends back (wParam 8: lParam 1 recording started, 2 stopped) as notify=started or
notify=stopped; the log (--log FILE, and standard output unless --quiet) has them all
with time stamps.

Options:
  --log FILE             the log also to FILE
  --agent-process NAME   the agent's image name (default OrvinAgent.exe)
  --agent-window HANDLE  talk to this window instead of looking for the agent
  --quiet                no log lines on standard output (answers are still printed)
  --script "CMD;CMD"     these commands, in order; the first failure ends the run
  --interactive          commands from standard input, one a line, each at once
  --help                 this text

Commands:
  find-agent [MS]        until the agent's main dialog exists (default 10000 ms); prints
                         agent=0xHANDLE
  alive                  wParam 4 (SESSION_RECORDER_GUI_ALIVE); prints alive=ANSWER
  start                  wParam 1 (SESSION_RECORDER_MESSAGE_START); prints start=ANSWER
  stop                   wParam 2 (SESSION_RECORDER_MESSAGE_STOP); prints stop=ANSWER
  settings               wParam 16 (SESSION_RECORDER_SETTINGS_UPDATE_MESSAGE); prints
                         settings=ANSWER
  query                  wParam 32; prints recording=ANSWER (1 while recording)
  send N                 wParam N (commands the agent does not know); prints send=ANSWER
  expect-notify started|stopped [MS]
                         until the next notification not yet expected is this one
                         (default 10000 ms); another one first fails the command
  sleep MS               serve MS milliseconds
  quit                   stop here

Exit status: 0 when every command worked, 1 when one failed, 2 for bad usage.
)";

bool ParseNumber(const std::string& text, long long min, long long max, long long* out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    long long value = strtoll(text.c_str(), &end, 0);
    if (*end != '\0' || value < min || value > max) {
        return false;
    }
    *out = value;
    return true;
}

struct Command {
    std::string source;
    std::string name;
    long long value = 0; // a time, or the wParam of send
    LPARAM notification = 0;
};

bool ParseCommand(const std::string& text, Command* command, std::string* error) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < text.size()) {
        size_t begin = text.find_first_not_of(" \t\r\n", at);
        if (begin == std::string::npos) {
            break;
        }
        size_t end = text.find_first_of(" \t\r\n", begin);
        words.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        at = end == std::string::npos ? text.size() : end;
    }
    if (words.empty()) {
        *error = "empty command";
        return false;
    }
    size_t first = text.find_first_not_of(" \t\r\n");
    command->source = text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
    const std::string& name = words[0];
    command->name = name;
    const size_t arguments = words.size() - 1;
    auto wrongCount = [&] {
        *error = "wrong number of arguments: " + command->source;
        return false;
    };
    auto time = [&](size_t index, long long fallback) {
        command->value = fallback;
        if (arguments > index && !ParseNumber(words[index + 1], 0, kMaxMs, &command->value)) {
            *error = "bad time '" + words[index + 1] + "' in: " + command->source;
            return false;
        }
        return true;
    };
    if (name == "alive" || name == "start" || name == "stop" || name == "settings" || name == "query" ||
        name == "quit") {
        return arguments == 0 ? true : wrongCount();
    }
    if (name == "find-agent") {
        return arguments <= 1 ? time(0, kDefaultWaitMs) : wrongCount();
    }
    if (name == "sleep") {
        return arguments == 1 ? time(0, 0) : wrongCount();
    }
    if (name == "send") {
        if (arguments != 1) {
            return wrongCount();
        }
        if (!ParseNumber(words[1], 0, LLONG_MAX, &command->value)) {
            *error = "bad number '" + words[1] + "' in: " + command->source;
            return false;
        }
        return true;
    }
    if (name == "expect-notify") {
        if (arguments < 1 || arguments > 2) {
            return wrongCount();
        }
        if (words[1] == "started") {
            command->notification = 1;
        } else if (words[1] == "stopped") {
            command->notification = 2;
        } else {
            *error = "expect-notify takes started or stopped, not '" + words[1] + "'";
            return false;
        }
        return time(1, kDefaultWaitMs);
    }
    *error = "unknown command '" + name + "'";
    return false;
}

bool ParseScript(const std::string& script, std::vector<Command>* commands, std::string* error) {
    for (const std::string& piece : orvin::sim::SplitScriptPieces(script)) {
        Command command;
        if (!ParseCommand(piece, &command, error)) {
            return false;
        }
        commands->push_back(command);
    }
    return true;
}

std::string ImageName(DWORD processId) {
    std::string name;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) {
        return name;
    }
    char path[MAX_PATH] = {};
    DWORD size = sizeof path;
    if (QueryFullProcessImageNameA(process, 0, path, &size)) {
        name = path;
        size_t slash = name.find_last_of("\\/");
        if (slash != std::string::npos) {
            name.erase(0, slash + 1);
        }
    }
    CloseHandle(process);
    return name;
}

// The recorder interface: its window, the agent's window and the notifications received.
class RecorderUi {
public:
    RecorderUi(SimLog& log, std::string agentProcess) : m_log(log), m_agentProcess(std::move(agentProcess)) {}

    bool Create() {
        m_uMessage = RegisterWindowMessageA("ORVIN_RECORDER_INTERFACE_MESSAGE");
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = &RecorderUi::WindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "OrvinRecorderUiWindow";
        RegisterClassA(&windowClass);
        m_hWnd = CreateWindowExA(0, windowClass.lpszClassName, "Orvin Recorder", WS_OVERLAPPED, 0, 0, 0, 0,
                                 nullptr, nullptr, windowClass.hInstance, this);
        if (!m_hWnd) {
            m_log.Error("can not create the window (error %lu)", GetLastError());
            return false;
        }
        m_log.Line("window 0x%llx, message 0x%x", (unsigned long long)(uintptr_t)m_hWnd, m_uMessage);
        return true;
    }
    void Destroy() {
        if (m_hWnd) {
            DestroyWindow(m_hWnd);
            m_hWnd = nullptr;
        }
    }
    void SetAgent(HWND agent) { m_hAgent = agent; }

    // Serves the window for `ms` or until `done` holds; `wake` (optional) also ends a wait.
    template <class Done> bool Pump(DWORD ms, Done done, HANDLE wake = nullptr) {
        const ULONGLONG deadline = ms == INFINITE ? ~0ull : GetTickCount64() + ms;
        for (;;) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            if (done()) {
                return true;
            }
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) {
                return false;
            }
            const DWORD left = deadline - now > 50 ? 50 : (DWORD)(deadline - now);
            MsgWaitForMultipleObjects(wake ? 1 : 0, wake ? &wake : nullptr, FALSE, left, QS_ALLINPUT);
        }
    }

    bool FindAgent(DWORD ms) {
        if (m_hAgent && IsWindow(m_hAgent)) {
            return true;
        }
        return Pump(ms, [this] {
            m_hAgent = nullptr;
            EnumWindows(
                [](HWND window, LPARAM data) -> BOOL {
                    auto* self = reinterpret_cast<RecorderUi*>(data);
                    char className[32] = {}, title[64] = {};
                    GetClassNameA(window, className, sizeof className);
                    GetWindowTextA(window, title, sizeof title);
                    if (strcmp(className, "#32770") != 0 || strcmp(title, "OrvinAgent") != 0) {
                        return TRUE;
                    }
                    DWORD process = 0;
                    GetWindowThreadProcessId(window, &process);
                    if (_stricmp(ImageName(process).c_str(), self->m_agentProcess.c_str()) != 0) {
                        return TRUE;
                    }
                    self->m_hAgent = window;
                    return FALSE;
                },
                reinterpret_cast<LPARAM>(this));
            return m_hAgent != nullptr;
        });
    }

    // Sends one command; false when there is no agent or it did not answer.
    bool Send(WPARAM command, LRESULT* answer) {
        if (!m_hAgent || !IsWindow(m_hAgent)) {
            m_log.Error("no agent window (find-agent first)");
            return false;
        }
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(m_hAgent, m_uMessage, command, reinterpret_cast<LPARAM>(m_hWnd), SMTO_NORMAL,
                                 kSendTimeoutMs, &result)) {
            m_log.Error("the agent did not answer wParam %llu within %u ms (error %lu)",
                        (unsigned long long)command, kSendTimeoutMs, GetLastError());
            return false;
        }
        *answer = (LRESULT)result;
        return true;
    }

    // The next notification not yet expected, waiting at most `ms`.
    enum class Next { Match, Other, None };
    Next ExpectNotification(LPARAM what, DWORD ms, LPARAM* got) {
        if (!Pump(ms, [this] { return m_taken < m_notifications.size(); })) {
            return Next::None;
        }
        *got = m_notifications[m_taken++];
        return *got == what ? Next::Match : Next::Other;
    }

    HWND Agent() const { return m_hAgent; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
            SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<RecorderUi*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && message == self->m_uMessage && self->m_uMessage) {
            self->OnNotification(wParam, lParam);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    void OnNotification(WPARAM wParam, LPARAM lParam) {
        const char* name = wParam != kNotification ? "unknown"
                           : lParam == 1           ? "started"
                           : lParam == 2           ? "stopped"
                                                   : "unknown";
        m_log.Line("notification: wParam=%llu lParam=%lld (%s)", (unsigned long long)wParam,
                   (long long)lParam, name);
        m_log.Result("notify=%s", name);
        m_notifications.push_back(wParam == kNotification ? lParam : -1);
    }

    SimLog& m_log;
    std::string m_agentProcess;
    HWND m_hWnd = nullptr;
    HWND m_hAgent = nullptr;
    UINT m_uMessage = 0;
    std::vector<LPARAM> m_notifications;
    size_t m_taken = 0;
};


bool RunCommand(RecorderUi& ui, SimLog& log, const Command& command, bool* quit) {
    struct Request {
        const char* name;
        WPARAM wParam;
        const char* printed;
    };
    static const Request kRequests[] = {{"alive", kAlive, "alive"},
                                        {"start", kStart, "start"},
                                        {"stop", kStop, "stop"},
                                        {"settings", kSettings, "settings"},
                                        {"query", kQuery, "recording"}};
    for (const Request& request : kRequests) {
        if (command.name == request.name) {
            LRESULT answer = 0;
            if (!ui.Send(request.wParam, &answer)) {
                return false;
            }
            log.Line("%s: answer %lld", command.source.c_str(), (long long)answer);
            log.Result("%s=%lld", request.printed, (long long)answer);
            return true;
        }
    }
    if (command.name == "send") {
        LRESULT answer = 0;
        if (!ui.Send((WPARAM)command.value, &answer)) {
            return false;
        }
        log.Line("%s: answer %lld", command.source.c_str(), (long long)answer);
        log.Result("send=%lld", (long long)answer);
        return true;
    }
    if (command.name == "find-agent") {
        if (!ui.FindAgent((DWORD)command.value)) {
            log.Error("%s: no agent window within %lld ms", command.source.c_str(), command.value);
            return false;
        }
        log.Result("agent=0x%llx", (unsigned long long)(uintptr_t)ui.Agent());
        return true;
    }
    if (command.name == "expect-notify") {
        LPARAM got = 0;
        switch (ui.ExpectNotification(command.notification, (DWORD)command.value, &got)) {
        case RecorderUi::Next::Match:
            return true;
        case RecorderUi::Next::Other:
            log.Error("%s: the next notification was lParam %lld", command.source.c_str(), (long long)got);
            return false;
        default:
            log.Error("%s: no notification within %lld ms", command.source.c_str(), command.value);
            return false;
        }
    }
    if (command.name == "sleep") {
        ui.Pump((DWORD)command.value, [] { return false; });
        return true;
    }
    if (command.name == "quit") {
        *quit = true;
        return true;
    }
    return false;
}

std::vector<std::string> Arguments() {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; words && i < count; ++i) {
        int size = WideCharToMultiByte(CP_UTF8, 0, words[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(size > 0 ? size - 1 : 0, '\0');
        if (size > 1) {
            WideCharToMultiByte(CP_UTF8, 0, words[i], -1, text.data(), size, nullptr, nullptr);
        }
        args.push_back(text);
    }
    LocalFree(words);
    return args;
}

} // namespace

int main() {
    std::vector<std::string> args = Arguments();
    std::string logPath, agentProcess = "OrvinAgent.exe";
    bool interactive = false, quiet = false;
    HWND agentWindow = nullptr;
    std::vector<Command> commands;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                fprintf(stderr, "OrvinRecorderUi: %s needs a value\n", arg.c_str());
                return false;
            }
            *out = args[++i];
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            fputs(kHelp, stdout);
            return kExitOk;
        } else if (arg == "--log") {
            if (!value(&logPath)) {
                return kExitBadUsage;
            }
        } else if (arg == "--agent-process") {
            if (!value(&agentProcess)) {
                return kExitBadUsage;
            }
        } else if (arg == "--agent-window") {
            long long handle = 0;
            if (!value(&text) || !ParseNumber(text, 1, LLONG_MAX, &handle)) {
                fprintf(stderr, "OrvinRecorderUi: --agent-window needs a window handle\n");
                return kExitBadUsage;
            }
            agentWindow = reinterpret_cast<HWND>((intptr_t)handle);
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--interactive") {
            interactive = true;
        } else if (arg == "--script") {
            std::string error;
            if (!value(&text)) {
                return kExitBadUsage;
            }
            if (!ParseScript(text, &commands, &error)) {
                fprintf(stderr, "OrvinRecorderUi: --script: %s\n", error.c_str());
                return kExitBadUsage;
            }
        } else {
            fprintf(stderr, "OrvinRecorderUi: unknown option %s (see --help)\n", arg.c_str());
            return kExitBadUsage;
        }
    }
    if (interactive == !commands.empty()) {
        fprintf(stderr, "OrvinRecorderUi: give --script or --interactive (see --help)\n");
        return kExitBadUsage;
    }

    SimLog log("OrvinRecorderUi");
    log.SetQuiet(quiet);
    if (!logPath.empty() && !log.OpenFile(logPath)) {
        fprintf(stderr, "OrvinRecorderUi: can not write the log %s\n", logPath.c_str());
        return kExitBadUsage;
    }
    RecorderUi ui(log, agentProcess);
    if (!ui.Create()) {
        return kExitFailed;
    }
    ui.SetAgent(agentWindow);

    int status = kExitOk;
    bool quit = false;
    int number = 0; // the line (interactive) or command being run
    if (interactive) {
        InputLines input;
        input.Start();
        while (!quit) {
            std::string line;
            InputLines::Next next = input.Take(&line);
            if (next == InputLines::Next::End) {
                break;
            }
            if (next == InputLines::Next::None) {
                HANDLE event = input.Event();
                ui.Pump(
                    INFINITE, [event] { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }, event);
                continue;
            }
            const size_t first = line.find_first_not_of(" \t\r\n");
            if (first == std::string::npos || line[first] == '#') {
                ++number; // lines are numbered as they come, like the adapter stand-in's
                continue;
            }
            Command command;
            std::string error;
            ++number;
            if (!ParseCommand(line, &command, &error)) {
                log.Error("line %d: %s", number, error.c_str());
                status = kExitBadUsage;
                continue;
            }
            if (RunCommand(ui, log, command, &quit)) {
                log.Line("line %d done: %s", number, command.source.c_str());
            } else {
                log.Error("line %d: %s failed", number, command.source.c_str());
                status = kExitFailed;
            }
        }
    } else {
        for (const Command& command : commands) {
            if (quit) {
                break;
            }
            ++number;
            if (!RunCommand(ui, log, command, &quit)) {
                log.Error("command %d: %s failed", number, command.source.c_str());
                status = kExitFailed;
                break;
            }
            log.Line("command %d done: %s", number, command.source.c_str());
        }
    }
    ui.Destroy();
    log.Line("exit %d", status);
    return status;
}
