#include "MonitorLog.h"

#include "WinText.h"

#include <windows.h>

namespace orvin::monitor {

MonitorLog::MonitorLog() {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    m_frequency = value.QuadPart;
    QueryPerformanceCounter(&value);
    m_start = value.QuadPart;
}

MonitorLog::~MonitorLog() {
    if (m_file) {
        fclose(m_file);
    }
}

bool MonitorLog::OpenFile(const std::string& path) {
    m_file = _wfopen(Wide(path).c_str(), L"w");
    return m_file != nullptr;
}

void MonitorLog::Line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Write(false, format, args);
    va_end(args);
}

void MonitorLog::Error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Write(true, format, args);
    va_end(args);
}

void MonitorLog::Write(bool error, const char* format, va_list args) {
    char text[2048];
    vsnprintf(text, sizeof text, format, args);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    double seconds = (double)(now.QuadPart - m_start) / (double)m_frequency;
    const char* mark = error ? "ERROR " : "";

    std::lock_guard<std::mutex> lock(m_mutex);
    if (error) {
        fprintf(stderr, "OrvinMonitor: %s\n", text);
        fflush(stderr);
    }
    fprintf(stdout, "[%9.3f] %s%s\n", seconds, mark, text);
    fflush(stdout);
    if (m_file) {
        fprintf(m_file, "[%9.3f] %s%s\n", seconds, mark, text);
        fflush(m_file);
    }
}

} // namespace orvin::monitor
