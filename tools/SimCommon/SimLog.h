// A stand-in's log: one line per message received or sent and per connection change,
// each stamped with the seconds since start (and, on request, with the performance
// counter itself: one clock for every process on the machine, to time a message from one
// stand-in's log to another's). Lines go to
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
    // Stamps as `[seconds @counter]`: the performance counter's value at the stamp.
    void SetCounterStamps(bool on) { m_bCounterStamps = on; }
    static long long Counter();
    long long Frequency() const { return m_frequency; }

    void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // A line stamped with a counter value taken earlier (Counter()): the moment a message
    // went out or came in, rather than the moment the line is written.
    void LineAt(long long counter, const char* format, ...) __attribute__((format(printf, 3, 4)));
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
    void Write(Kind kind, long long counter, const char* format, va_list args);

    const char* m_program;
    std::mutex m_mutex;
    FILE* m_file = nullptr;
    bool m_bQuiet = false;
    bool m_bCounterStamps = false;
    long long m_start = 0;
    long long m_frequency = 1;
};

} // namespace orvin::sim
