#include "settings/model/Diagnostics.h"

#include "base/config/Registry.h"
#include "settings/model/RegistryChanges.h"

#include <windows.h>

#include <cstdio>
#include <ctime>
#include <memory>

namespace {

bool IsFullPath(const std::string& path) {
    return path.size() > 3 && ((path[1] == ':' && path[2] == '\\') || path.rfind("\\\\", 0) == 0) &&
           path.find_first_of("*?\"<>|") == std::string::npos && path.back() != '\\';
}

// The trace file's last `limit` bytes; shared with the agent writing it.
bool ReadTail(const std::string& path, unsigned limit, std::string* text) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    if (size.QuadPart > limit) {
        LARGE_INTEGER start;
        start.QuadPart = size.QuadPart - limit;
        SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    }
    text->assign((size_t)(size.QuadPart > limit ? limit : size.QuadPart), '\0');
    DWORD read = 0;
    const bool ok = text->empty() || ReadFile(file, &(*text)[0], (DWORD)text->size(), &read, nullptr);
    text->resize(read);
    CloseHandle(file);
    return ok;
}

} // namespace

TraceSettings CDiagnostics::Load() {
    TraceSettings settings;
    orvin::RegKey key;
    DWORD type = 0;
    if (key.Open(HKEY_LOCAL_MACHINE, kTraceKey) == ERROR_SUCCESS) {
        settings.on = key.QueryDword("DebugType", &type) == ERROR_SUCCESS && type == 3;
        key.QueryString("DebugFile", &settings.file, MAX_PATH);
    }
    return settings;
}

bool CDiagnostics::CanChange() {
    return CRegistryChanges::CanWrite(kTraceKey);
}

bool CDiagnostics::Prepare(const TraceSettings& current, const TraceSettings& wanted,
                           CRegistryChanges& changes, std::string* problem) {
    if (wanted.on && !IsFullPath(wanted.file)) {
        *problem = "The trace file needs a full path, such as C:\\OrvinAgent\\OrvinAgent.trace.";
        return false;
    }
    if (wanted.file != current.file && !wanted.file.empty()) {
        changes.SetString(kTraceKey, "DebugFile", wanted.file);
    }
    if (wanted.on != current.on) {
        changes.SetDword(kTraceKey, "DebugType", wanted.on ? 3 : 0);
    }
    return true;
}

bool CDiagnostics::WriteReport(const std::string& path, const TraceSettings& trace,
                               const std::vector<std::string>& eventLog, bool agentFound,
                               std::string* problem) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path.c_str(), "wb"), fclose);
    if (!file) {
        *problem =
            "The report could not be written to " + path + ": " + SystemErrorText((LONG)GetLastError()) + ".";
        return false;
    }
    char date[128];
    const time_t now = time(nullptr);
    strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", localtime(&now));
    fprintf(file.get(), "OrvinAgent report, made on %s\r\n\r\n", date);
    fprintf(file.get(), "== Trace: %s (%s)\r\n", trace.on ? "on" : "off",
            trace.file.empty() ? "no file" : trace.file.c_str());
    std::string text;
    if (!trace.file.empty() && ReadTail(trace.file, kMaxTraceBytes, &text)) {
        fwrite(text.data(), 1, text.size(), file.get());
    } else {
        fputs("(no trace file to read)\r\n", file.get());
    }
    fprintf(file.get(), "\r\n== Event log of the running agent: %u lines\r\n", (unsigned)eventLog.size());
    if (!agentFound) {
        fputs("(OrvinAgent is not running)\r\n", file.get());
    }
    for (const std::string& line : eventLog) {
        fprintf(file.get(), "%s\r\n", line.c_str());
    }
    if (fflush(file.get()) != 0 || ferror(file.get())) {
        *problem = "The report could not be written whole to " + path + ".";
        return false;
    }
    return true;
}
