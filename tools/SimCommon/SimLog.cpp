#include "SimLog.h"

#include <windows.h>

#include <cstdarg>

namespace orvin::sim {

SimLog::SimLog(const char* program) : m_program(program) {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    m_frequency = value.QuadPart;
    QueryPerformanceCounter(&value);
    m_start = value.QuadPart;
}

long long SimLog::Counter() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

SimLog::~SimLog() {
    if (m_file) {
        fclose(m_file);
    }
}

bool SimLog::OpenFile(const std::string& path) {
    m_file = fopen(path.c_str(), "w");
    return m_file != nullptr;
}

void SimLog::Line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Write(Kind::Line, Counter(), format, args);
    va_end(args);
}

void SimLog::LineAt(long long counter, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Write(Kind::Line, counter, format, args);
    va_end(args);
}

void SimLog::Error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Write(Kind::Error, Counter(), format, args);
    va_end(args);
}

void SimLog::Warning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Write(Kind::Warning, Counter(), format, args);
    va_end(args);
}

void SimLog::Result(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Write(Kind::Result, Counter(), format, args);
    va_end(args);
}

void SimLog::Write(Kind kind, long long counter, const char* format, va_list args) {
    char text[2048];
    vsnprintf(text, sizeof text, format, args);
    double seconds = (double)(counter - m_start) / (double)m_frequency;
    char stamp[64];
    if (m_bCounterStamps) {
        snprintf(stamp, sizeof stamp, "[%9.3f @%lld]", seconds, counter);
    } else {
        snprintf(stamp, sizeof stamp, "[%9.3f]", seconds);
    }
    const char* mark = kind == Kind::Error ? "ERROR " : kind == Kind::Warning ? "WARNING " : "";

    std::lock_guard<std::mutex> lock(m_mutex);
    if (kind == Kind::Error) {
        fprintf(stderr, "%s: %s\n", m_program, text);
        fflush(stderr);
    } else if (kind == Kind::Result) {
        fprintf(stdout, "%s\n", text);
        fflush(stdout);
    } else if (!m_bQuiet) {
        fprintf(stdout, "%s %s%s\n", stamp, mark, text);
        fflush(stdout);
    }
    if (m_file) {
        fprintf(m_file, "%s %s%s\n", stamp, mark, text);
        fflush(m_file);
    }
}

} // namespace orvin::sim
