// Runs the stand-in's script commands against the served I/O manager pipe, one at a
// time on the calling thread.
#pragma once

#include "IomanEndpoint_win.h"
#include "ScriptParser.h"
#include "SimLog.h"

#include <string>

namespace orvin::sim {

class ScriptRunner {
public:
    ScriptRunner(IomanEndpoint& ioman, SimLog& log) : m_ioman(ioman), m_log(log) {}

    // True when the command did what it says; otherwise *failure tells what happened
    // instead (without the line number).
    bool Run(const ScriptCommand& command, std::string* failure);

private:
    bool Expect(const ScriptCommand& command, std::string* failure);
    bool Send(const ScriptCommand& command, const WireMessage& message, std::string* failure);
    bool Burst(const ScriptCommand& command, std::string* failure);

    IomanEndpoint& m_ioman;
    SimLog& m_log;
    uint64_t m_greetingsSeen = 0; // greetings already waited for
};

} // namespace orvin::sim
