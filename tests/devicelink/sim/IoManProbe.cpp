// IoManProbe.exe: the agent's side of the device link for system tests. It opens a real
// CIoManager, prints every adapter event its owner callback receives, and runs commands
// in the stand-in's language from its command line (one argument per command), a file
// or standard input:
//   send TYPE CODE [info=N] [buf1..3=TEXT] [payload=TEXT]   SendEvent, internal code 1
//   send-generic [internal=N] [value=N]                     SendEvent without IMM (default 3, 0)
//   burst COUNT TYPE CODE [interval=MS]                     COUNT SendEvents, info = 0, 1, 2 ...,
//                                                           buf1 = the performance counter
//                                                           just before each (for the
//                                                           stand-in's measure)
//   expect TYPE CODE [info=N] [buf1..3=TEXT] [payload=TEXT] [timeout=MS]
//                                                           an event received (or still to come)
//   wait-connected [timeout=MS]                             the manager's phase 3
//   wait-available [timeout=MS]                             IsAdapterAvailable
//   open | close | sleep MS
// With --enum it instead runs the enumeration the way start-up does and prints the key
// kept ("root=..."), after the count and each key it finds.
//
// Output lines (standard output, and --events FILE):
//   EVENT MSG_TYPE_HW_EVENT NOTIFY_HOOK_STATE info=1 buf1=TEXT
//   SENT ...   for each request handed to SendEvent
// Exit status: 0 when every command succeeded, 1 on the first failure (its line on
// standard error), 2 for bad input.
#include "base/trace/Trace.h"
#include "devicelink/AdapterEnum.h"
#include "devicelink/IoManager.h"
#include "devicelink/MessageCatalogue.h"
#include "OrvinAdapterSim/ScriptParser.h"
#include "OrvinAdapterSim/WireFormat.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

using namespace orvin::sim;

namespace {

const char kUsage[] = "usage: IoManProbe.exe [--adapter N] [--events FILE] [--trace FILE] [--no-open]\n"
                      "                      [--script FILE | --stdin] [--hold MS] [COMMAND ...]\n"
                      "       IoManProbe.exe [--trace FILE] --enum\n";

const char* const kTraceKey = "Software\\Velcora\\Quendo";

class Output {
public:
    bool Open(const std::string& path) {
        m_file = fopen(path.c_str(), "w");
        return m_file != nullptr;
    }
    ~Output() {
        if (m_file) {
            fclose(m_file);
        }
    }
    void Line(const std::string& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        printf("%s\n", text.c_str());
        fflush(stdout);
        if (m_file) {
            fprintf(m_file, "%s\n", text.c_str());
            fflush(m_file);
        }
    }

private:
    std::mutex m_mutex;
    FILE* m_file = nullptr;
};

Output g_output;
std::mutex g_eventsMutex;
std::condition_variable g_eventArrived;
std::deque<IMM> g_events;

std::string Describe(const IMM& message) {
    std::string text = TypeWord(message.Type) + " " + CodeWord(message.Type, message.Code) +
                       " info=" + std::to_string(message.Info);
    const char* fields[] = {message.Buffer1, message.Buffer2, message.Buffer3};
    for (int i = 0; i < 3; ++i) {
        std::string quoted = QuoteText(reinterpret_cast<const uint8_t*>(fields[i]), sizeof message.Buffer1);
        if (quoted != "\"\"") {
            text += " buf" + std::to_string(i + 1) + "=" + quoted;
        }
    }
    std::string payload =
        QuoteText(reinterpret_cast<const uint8_t*>(message.Payload), sizeof message.Payload);
    if (payload != "\"\"") {
        text += " payload=" + payload;
    }
    return text;
}

// The owner callback: on the bus's delivery thread, so it only records and prints.
void OnAdapterEvent(const IMM* message, uint32_t length, void*) {
    if (!message || length != sizeof(IMM)) {
        g_output.Line("BAD-EVENT length=" + std::to_string(length));
        return;
    }
    g_output.Line("EVENT " + Describe(*message));
    {
        std::lock_guard<std::mutex> lock(g_eventsMutex);
        g_events.push_back(*message);
    }
    g_eventArrived.notify_all();
}

bool Matches(const ScriptCommand& command, const IMM& message) {
    // The stand-in's matcher works on the packed form: pack the event as the service would.
    WireMessage packed = PackImmMessage(0, message, nullptr);
    return orvin::sim::Matches(command, packed);
}

template <typename Condition> bool WaitUntil(DWORD timeoutMs, Condition condition) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

bool Run(CIoManager& manager, uint32_t adapter, const ScriptCommand& command, std::string* failure) {
    switch (command.kind) {
    case CommandKind::Send: {
        IMM message = MakeImm(command);
        manager.SendEvent(0, 1, &message);
        g_output.Line("SENT " + Describe(message));
        return true;
    }
    case CommandKind::Burst: {
        IMM message = MakeImm(command);
        for (uint32_t i = 0; i < command.count; ++i) {
            if (i && command.intervalMs) {
                Sleep(command.intervalMs);
            }
            message.Info = (int32_t)i;
            LARGE_INTEGER now;
            QueryPerformanceCounter(&now);
            memset(message.Buffer1, 0, sizeof message.Buffer1);
            snprintf(message.Buffer1, sizeof message.Buffer1, "%lld", (long long)now.QuadPart);
            manager.SendEvent(0, 1, &message);
        }
        g_output.Line("SENT burst of " + std::to_string(command.count) + " " + TypeWord(message.Type) + " " +
                      CodeWord(message.Type, message.Code));
        return true;
    }
    case CommandKind::SendGeneric: {
        uint32_t internal = command.internal.value_or(3), value = command.value.value_or(0);
        manager.SendEvent(value, internal, nullptr);
        g_output.Line("SENT GENERIC internal=" + std::to_string(internal) +
                      " value=" + std::to_string(value));
        return true;
    }
    case CommandKind::Expect: {
        std::unique_lock<std::mutex> lock(g_eventsMutex);
        const ULONGLONG deadline = GetTickCount64() + command.timeoutMs;
        std::string passedOver;
        for (;;) {
            while (!g_events.empty()) {
                IMM message = g_events.front();
                g_events.pop_front();
                if (Matches(command, message)) {
                    return true;
                }
                passedOver += (passedOver.empty() ? "" : "; ") + Describe(message);
            }
            ULONGLONG now = GetTickCount64();
            if (now >= deadline) {
                *failure = "expected " + DescribeExpectation(command) + " within " +
                           std::to_string(command.timeoutMs) + " ms; " +
                           (passedOver.empty() ? "nothing arrived" : "arrived instead: " + passedOver);
                return false;
            }
            g_eventArrived.wait_for(lock, std::chrono::milliseconds(deadline - now));
        }
    }
    case CommandKind::WaitConnected:
        if (!WaitUntil(command.timeoutMs, [&] { return manager.Phase() == 3; })) {
            *failure = "not connected within " + std::to_string(command.timeoutMs) + " ms (phase " +
                       std::to_string(manager.Phase()) + ")";
            return false;
        }
        return true;
    case CommandKind::WaitAvailable:
        if (!WaitUntil(command.timeoutMs, [&] { return manager.IsAdapterAvailable(); })) {
            *failure = "no adapter available within " + std::to_string(command.timeoutMs) + " ms";
            return false;
        }
        return true;
    case CommandKind::Open:
        if (!manager.Open(OnAdapterEvent, adapter, nullptr)) {
            *failure = "Open failed";
            return false;
        }
        return true;
    case CommandKind::Close:
        manager.Close();
        return true;
    case CommandKind::Sleep:
        Sleep(command.ms);
        return true;
    default:
        *failure = "not a command of the probe";
        return false;
    }
}

void SetTraceFile(const std::string& path) {
    DWORD type = orvin::kTraceFile;
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugType", REG_DWORD, &type, sizeof type);
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugFile", REG_SZ, path.c_str(), (DWORD)path.size() + 1);
}

void ClearTraceFile() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTraceKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "DebugType");
        RegDeleteValueA(key, "DebugFile");
        RegCloseKey(key);
    }
}

int RunEnumeration() {
    AdapterEnumerator* enumerator = OpenEnumerator();
    if (!enumerator) {
        g_output.Line("enumerator=none");
    } else {
        uint32_t count = AdapterCount(enumerator);
        g_output.Line("count=" + std::to_string(count));
        for (uint32_t i = 0; i < count; ++i) {
            char key[kAdapterKeySize];
            bool got = GetAdapterKey(enumerator, i, key, sizeof key);
            g_output.Line("key" + std::to_string(i) + "=" + (got ? std::string(key) : "(none)"));
        }
        CloseEnumerator(enumerator);
    }
    char root[kAdapterKeySize] = "unset";
    FindAdapterRegistryRoot(root, sizeof root);
    g_output.Line(std::string("root=") + root);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    uint32_t adapter = 0;
    std::string tracePath, scriptPath;
    bool fromStdin = false, enumerate = false, open = true;
    DWORD holdMs = 0;
    std::vector<std::string> lines;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                fprintf(stderr, "IoManProbe: %s needs a value\n%s", arg.c_str(), kUsage);
                exit(2);
            }
            return argv[++i];
        };
        if (arg == "--adapter") {
            adapter = (uint32_t)atoi(value().c_str());
        } else if (arg == "--events") {
            std::string path = value();
            if (!g_output.Open(path)) {
                fprintf(stderr, "IoManProbe: can not write %s\n", path.c_str());
                return 2;
            }
        } else if (arg == "--trace") {
            tracePath = value();
        } else if (arg == "--script") {
            scriptPath = value();
        } else if (arg == "--stdin") {
            fromStdin = true;
        } else if (arg == "--hold") {
            holdMs = (DWORD)atoi(value().c_str());
        } else if (arg == "--no-open") {
            open = false;
        } else if (arg == "--enum") {
            enumerate = true;
        } else if (arg == "--help") {
            fputs(kUsage, stdout);
            return 0;
        } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            fprintf(stderr, "IoManProbe: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        } else {
            lines.push_back(arg);
        }
    }
    std::string text;
    if (!scriptPath.empty()) {
        std::ifstream in(scriptPath, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        if (!in) {
            fprintf(stderr, "IoManProbe: can not read %s\n", scriptPath.c_str());
            return 2;
        }
        text = content.str();
    }
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    std::vector<ScriptCommand> commands;
    std::vector<ScriptError> errors;
    if (!ParseScript(text, kProbeCommands, &commands, &errors)) {
        for (const ScriptError& error : errors) {
            fprintf(stderr, "IoManProbe: %s\n", FormatScriptError(error).c_str());
        }
        return 2;
    }

    // Before the first trace line: the trace facility reads its settings once.
    if (!tracePath.empty()) {
        SetTraceFile(tracePath);
    }
    int status = 0;
    if (enumerate) {
        status = RunEnumeration();
    } else {
        CIoManager manager;
        if (open && !manager.Open(OnAdapterEvent, adapter, nullptr)) {
            fprintf(stderr, "IoManProbe: CIoManager::Open failed\n");
            status = 1;
        }
        auto runOne = [&](const ScriptCommand& command) {
            std::string failure;
            if (!Run(manager, adapter, command, &failure)) {
                fprintf(stderr, "IoManProbe: line %d: %s: %s\n", command.line, command.source.c_str(),
                        failure.c_str());
                return false;
            }
            return true;
        };
        for (size_t i = 0; status == 0 && i < commands.size(); ++i) {
            if (!runOne(commands[i])) {
                status = 1;
            }
        }
        std::string input;
        for (int line = 1; status == 0 && fromStdin && std::getline(std::cin, input); ++line) {
            std::optional<ScriptCommand> command;
            std::string error;
            if (!ParseScriptLine(input, line, kProbeCommands, &command, &error)) {
                fprintf(stderr, "IoManProbe: line %d: %s\n", line, error.c_str());
                status = 1;
            } else if (command && !runOne(*command)) {
                status = 1;
            }
        }
        if (status == 0 && holdMs) {
            Sleep(holdMs);
        }
        manager.Close();
    }
    orvin::TraceStop();
    if (!tracePath.empty()) {
        ClearTraceFile();
    }
    return status;
}
