// A stand-in's log: one line per message received or sent and per connection change,
// each stamped with the seconds since start. Lines go to
// standard output (unless quiet) and to the --log file, flushed at once so that a test
// reading the file sees every line written so far.
//
// Threads: any thread may write; lines never interleave.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace orvin::sim {

class SimLog {
public:
    // `program` prefixes the lines written to standard error.
    explicit SimLog(const char* program);
    ~SimLog();
    bool OpenFile(const std::string& path);
    void SetQuiet(bool quiet) { m_bQuiet = quiet; }

    void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Faults and results for the person or the test running the stand-in: standard error
    // and the log file.
    void Error(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // A fault passed over on request: a log line marked WARNING.
    void Warning(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Figures for a script to read: standard output, quiet or not, as they are (no time
    // stamp), and the log file.
    void Result(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    enum class Kind { Line, Error, Warning, Result };
    void Write(Kind kind, const char* format, va_list args);

    const char* m_program;
    std::mutex m_mutex;
    FILE* m_file = nullptr;
    bool m_bQuiet = false;
    long long m_start = 0;
    long long m_frequency = 1;
};

} // namespace orvin::sim
