// The monitor's log: one line per event, stamped with the seconds since start, to
// standard output and the log file, flushed at once so that a test reading the file sees
// every line written so far.
//
// Threads: any thread may write; lines never interleave.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace orvin::monitor {

class MonitorLog {
public:
    MonitorLog();
    ~MonitorLog();
    bool OpenFile(const std::string& path); // UTF-8 path

    void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Also to standard error; marked ERROR in the log.
    void Error(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    void Write(bool error, const char* format, va_list args);

    std::mutex m_mutex; // guards the writes to both streams
    FILE* m_file = nullptr;
    long long m_start = 0;
    long long m_frequency = 1;
};

} // namespace orvin::monitor
