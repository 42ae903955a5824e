// Runs the stand-in's script commands against the served pipes, one at a time on the
// calling thread. A command fails when it can not do what it says, and also when the
// agent broke the wire description while it ran (the endpoint's violations): waiting
// commands are cut short by a violation.
#pragma once

#include "HwenumEndpoint_win.h"
#include "IomanEndpoint_win.h"
#include "RecorderEndpoint_win.h"
#include "ScriptParser.h"
#include "SimCommon/SimLog.h"

#include <string>

namespace orvin::sim {

class ScriptRunner {
public:
    ScriptRunner(IomanEndpoint& ioman, HwenumEndpoint& hwenum, RecorderEndpoint& recorder, SimLog& log)
        : m_ioman(ioman), m_hwenum(hwenum), m_recorder(recorder), m_log(log) {}

    // True when the command did what it says; otherwise *failure tells what happened
    // instead (without the line number).
    bool Run(const ScriptCommand& command, std::string* failure);
    // False, with *failure, when the agent broke the wire description since the last
    // look; each violation fails one command only.
    bool CheckConformance(std::string* failure);

private:
    bool RunCommand(const ScriptCommand& command, std::string* failure);
    bool Expect(const ScriptCommand& command, std::string* failure);
    bool Send(const ScriptCommand& command, const WireMessage& message, std::string* failure);
    bool Burst(const ScriptCommand& command, std::string* failure);
    bool Measure(const ScriptCommand& command, std::string* failure);
    bool StopService(const ScriptCommand& command, std::string* failure);
    bool RecorderCommand(const ScriptCommand& command, std::string* failure);
    bool RecAudio(const ScriptCommand& command, std::string* failure);
    bool RecWaitResult(RecorderEndpoint::Wait result, const ScriptCommand& command, const std::string& what,
                       std::string* failure);

    IomanEndpoint& m_ioman;
    HwenumEndpoint& m_hwenum;
    RecorderEndpoint& m_recorder;
    SimLog& m_log;
    uint64_t m_greetingsSeen = 0;     // greetings already waited for
    uint64_t m_registrationsSeen = 0; // recorder registrations already waited for
    int m_violationsSeen = 0;         // IOMAN violations already reported as a failure
    int m_recViolationsSeen = 0;      // the same for the recorder driver's pipe
};

} // namespace orvin::sim
