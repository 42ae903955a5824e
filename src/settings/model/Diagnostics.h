// The trace and the support report.
//
// The trace settings are machine-wide (HKLM\Software\Velcora\Quendo, DebugType and
// DebugFile): every user's agent reads them at its start and rewrites the file named
// there. A user who could set them could have every other user's agent truncate a file of
// that user's, or write its trace (callers' numbers, the dialogues' steps) where the
// chooser reads it; so only those who may write the key (administrators: setup grants
// users nothing there) are offered a change.
//
// The report is one text file a user can send: the trace settings, the trace file's text
// (its last kMaxTraceBytes) and the running agent's event log.
//
// Threads: no state; any thread.
#pragma once

#include <string>
#include <vector>

class CRegistryChanges;

struct TraceSettings {
    bool on = false; // DebugType 3: a trace file
    std::string file;
};

class CDiagnostics {
public:
    static constexpr const char* kTraceKey = "SOFTWARE\\Velcora\\Quendo";
    static constexpr unsigned kMaxTraceBytes = 16 << 20;

    static TraceSettings Load();
    static bool CanChange();
    // Adds the trace settings when they change; false with the problem in words (a trace
    // file needs a full path).
    static bool Prepare(const TraceSettings& current, const TraceSettings& wanted, CRegistryChanges& changes,
                        std::string* problem);
    // Writes the report to `path`; false with the problem in words.
    static bool WriteReport(const std::string& path, const TraceSettings& trace,
                            const std::vector<std::string>& eventLog, bool agentFound, std::string* problem);
};
