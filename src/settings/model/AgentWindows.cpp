#include "settings/model/AgentWindows.h"

#include <memory>

namespace {

constexpr int kEventLogList = 1008; // the main dialog's list

std::string ProcessPath(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) {
        return std::string();
    }
    char path[MAX_PATH] = {};
    DWORD size = sizeof path;
    const bool ok = QueryFullProcessImageNameA(process, 0, path, &size) != 0;
    CloseHandle(process);
    return ok ? std::string(path, size) : std::string();
}

// The user a process runs as, as a SID's bytes; empty when it cannot be read.
std::vector<BYTE> ProcessUser(HANDLE process) {
    std::vector<BYTE> sid;
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) {
        return sid;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        const BYTE* bytes = static_cast<const BYTE*>(user);
        sid.assign(bytes, bytes + GetLengthSid(user));
    }
    CloseHandle(token);
    return sid;
}

bool RunsAsThisUser(DWORD processId) {
    static const std::vector<BYTE> self = ProcessUser(GetCurrentProcess());
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) {
        return false;
    }
    const std::vector<BYTE> user = ProcessUser(process);
    CloseHandle(process);
    return !self.empty() && user == self;
}

HWND FindTopLevel(const char* title, const char* className) {
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, className, title)) != nullptr) {
        if (IsOwnAgentWindow(window)) {
            return window;
        }
    }
    return nullptr;
}

} // namespace

std::string WindowProgramPath(HWND window) {
    DWORD processId = 0;
    if (!window || !GetWindowThreadProcessId(window, &processId)) {
        return std::string();
    }
    return ProcessPath(processId);
}

bool IsOwnAgentWindow(HWND window) {
    DWORD processId = 0;
    if (!window || !IsWindow(window) || !GetWindowThreadProcessId(window, &processId)) {
        return false;
    }
    const std::string path = ProcessPath(processId);
    const size_t slash = path.find_last_of("\\/");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return _stricmp(name.c_str(), "OrvinAgent.exe") == 0 && RunsAsThisUser(processId);
}

HWND FindAgentEngine() {
    return FindTopLevel("MessageOnlyWindowTitle", nullptr);
}

HWND FindAgentDialog() {
    return FindTopLevel("OrvinAgent", "#32770");
}

std::vector<std::string> ReadAgentEventLog(bool* found) {
    std::vector<std::string> lines;
    HWND dialog = FindAgentDialog();
    HWND list = dialog ? GetDlgItem(dialog, kEventLogList) : nullptr;
    *found = list != nullptr;
    DWORD_PTR count = 0;
    if (!list || !SendMessageTimeoutA(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count)) {
        return lines;
    }
    for (DWORD_PTR i = 0; i < count && i < 100000; ++i) {
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutA(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 2000, &length) ||
            length == (DWORD_PTR)LB_ERR || length > 65536) {
            break;
        }
        std::string line(length + 1, '\0');
        DWORD_PTR copied = 0;
        if (!SendMessageTimeoutA(list, LB_GETTEXT, i, (LPARAM)&line[0], SMTO_ABORTIFHUNG, 2000, &copied) ||
            copied == (DWORD_PTR)LB_ERR) {
            break;
        }
        line.resize(copied <= length ? copied : length);
        lines.push_back(line);
    }
    return lines;
}
