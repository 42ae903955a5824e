#include "ScriptRunner_win.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace orvin::sim {

namespace {

// "1c000000 e8030000 ..." as the raw command takes them.
std::string HexWords(const std::vector<uint8_t>& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i && i % 4 == 0) {
            text += ' ';
        }
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 15];
    }
    return text;
}

} // namespace

bool ScriptRunner::Run(const ScriptCommand& command, std::string* failure) {
    if (!RunCommand(command, failure)) {
        // A violation that cut the command short was already looked at.
        return false;
    }
    return CheckConformance(failure);
}

bool ScriptRunner::CheckConformance(std::string* failure) {
    const int recViolations = m_recorder.Violations();
    if (recViolations > m_recViolationsSeen) {
        *failure = "the agent broke the recorder driver's request layout: " +
                   m_recorder.ViolationText(m_recViolationsSeen);
        if (recViolations - m_recViolationsSeen > 1) {
            *failure +=
                " (and " + std::to_string(recViolations - m_recViolationsSeen - 1) + " more; see the log)";
        }
        m_recViolationsSeen = recViolations;
        return false;
    }
    const int violations = m_ioman.Violations();
    if (violations <= m_violationsSeen) {
        return true;
    }
    *failure = "the agent broke the wire description: " + m_ioman.ViolationText(m_violationsSeen);
    if (violations - m_violationsSeen > 1) {
        *failure += " (and " + std::to_string(violations - m_violationsSeen - 1) + " more; see the log)";
    }
    m_violationsSeen = violations;
    return false;
}

bool ScriptRunner::RunCommand(const ScriptCommand& command, std::string* failure) {
    switch (command.kind) {
    case CommandKind::WaitAgent:
        if (!m_ioman.WaitGreeted(command.timeoutMs, &m_greetingsSeen, m_violationsSeen)) {
            if (!CheckConformance(failure)) {
                return false;
            }
            *failure =
                std::string(m_greetingsSeen ? "no new agent connection" : "no agent connected and greeted") +
                " within " + std::to_string(command.timeoutMs) + " ms";
            return false;
        }
        return true;
    case CommandKind::Expect:
    case CommandKind::ExpectGeneric:
        return Expect(command, failure);
    case CommandKind::Send: {
        IMM imm = MakeImm(command);
        return Send(command, PackImmMessage(ToAgentId(m_ioman.AdapterIndex()), imm, nullptr), failure);
    }
    case CommandKind::AdaptorInfo: {
        const uint32_t params[4] = {(uint32_t)command.lowCost, 0, 0, 0};
        return Send(
            command,
            PackBusMessage(ToAgentId(m_ioman.AdapterIndex()), VCORE_IBUS_ID_ADAPTOR_INFO, params, nullptr, 0),
            failure);
    }
    case CommandKind::Raw:
        if (!m_ioman.WriteBytes(command.raw, failure)) {
            return false;
        }
        m_log.Line("TX RAW %u bytes: %s", (unsigned)command.raw.size(), HexWords(command.raw).c_str());
        return true;
    case CommandKind::Burst:
        return Burst(command, failure);
    case CommandKind::Sleep:
        Sleep(command.ms);
        return true;
    case CommandKind::Break:
        m_log.Line("IOMAN break");
        if (!m_ioman.Break()) {
            *failure = "the connection did not close";
            return false;
        }
        return true;
    case CommandKind::StopService:
        return StopService(command, failure);
    case CommandKind::Measure:
        return Measure(command, failure);
    case CommandKind::RecExpectRegister:
    case CommandKind::RecExpectChannels:
    case CommandKind::RecExpectUnregister:
    case CommandKind::RecEvent:
    case CommandKind::RecAudio:
    case CommandKind::RecRaw:
    case CommandKind::RecFault:
    case CommandKind::RecDrain:
    case CommandKind::RecReport:
    case CommandKind::RecRemove:
    case CommandKind::RecUnplug:
        return RecorderCommand(command, failure);
    default:
        *failure = std::string("'") + CommandName(command.kind) + "' is not a command of the stand-in";
        return false;
    }
}

bool ScriptRunner::Send(const ScriptCommand& command, const WireMessage& message, std::string* failure) {
    const long long sentAt = SimLog::Counter(); // the moment the write starts
    if (!m_ioman.Write(message, failure)) {
        return false;
    }
    m_log.LineAt(sentAt, "TX %s", DescribeMessage(message).c_str());
    return true;
}

// No endpoint at all, as when the real service is stopped: the agent's I/O manager finds
// no pipe to connect to and the enumeration no service to ask.
bool ScriptRunner::StopService(const ScriptCommand& command, std::string* failure) {
    m_log.Line("service stopping for %u ms", command.ms);
    const bool iomanGone = m_ioman.Suspend();
    const bool hwenumGone = m_hwenum.Suspend();
    if (!iomanGone || !hwenumGone) {
        *failure = std::string("the ") + (iomanGone ? "HWENUM" : "IOMAN") + " pipe did not close";
        m_ioman.Resume();
        m_hwenum.Resume();
        return false;
    }
    m_log.Line("service stopped: no IOMAN and no HWENUM pipe");
    Sleep(command.ms);
    m_ioman.Resume();
    m_hwenum.Resume();
    m_log.Line("service serving again");
    return true;
}

bool ScriptRunner::Expect(const ScriptCommand& command, std::string* failure) {
    const ULONGLONG deadline = GetTickCount64() + command.timeoutMs;
    std::string passedOver;
    int skipped = 0;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        DWORD left = now < deadline ? (DWORD)(deadline - now) : 0;
        WireMessage message;
        IomanEndpoint::Taken taken = m_ioman.TakeMessage(left, &message, m_violationsSeen);
        if (taken == IomanEndpoint::Taken::Violation) {
            return CheckConformance(failure);
        }
        if (taken == IomanEndpoint::Taken::TimedOut) {
            *failure = "expected " + DescribeExpectation(command) + " within " +
                       std::to_string(command.timeoutMs) + " ms; " +
                       (skipped ? "arrived instead: " + passedOver : "nothing arrived");
            return false;
        }
        if (Matches(command, message)) {
            return true;
        }
        std::string text = DescribeMessage(message);
        m_log.Line("   passed over by expect at line %d: %s", command.line, text.c_str());
        passedOver += (skipped++ ? "; " : "") + text;
    }
}

// COUNT events, Info = 0, 1, 2 ..., Buffer1 = the performance counter just before the
// write, in decimal: the receiver measures the latency against its own counter (the
// same clock for every process on the machine).
bool ScriptRunner::Burst(const ScriptCommand& command, std::string* failure) {
    IMM imm = MakeImm(command);
    const uint32_t id = ToAgentId(m_ioman.AdapterIndex());
    const ULONGLONG started = GetTickCount64();
    for (uint32_t i = 0; i < command.count; ++i) {
        if (i && command.intervalMs) {
            Sleep(command.intervalMs);
        }
        imm.Info = (int32_t)i;
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        memset(imm.Buffer1, 0, sizeof imm.Buffer1);
        snprintf(imm.Buffer1, sizeof imm.Buffer1, "%lld", (long long)now.QuadPart);
        WireMessage message = PackImmMessage(id, imm, nullptr);
        if (!m_ioman.Write(message, failure)) {
            *failure = "burst stopped after " + std::to_string(i) + " of " + std::to_string(command.count) +
                       " events: " + *failure;
            return false;
        }
        m_log.Line("TX %s", DescribeMessage(message).c_str());
    }
    m_log.Line("TX burst of %u events in %llu ms", command.count,
               (unsigned long long)(GetTickCount64() - started));
    return true;
}

// The agent's SendEvent to the stand-in's read, for COUNT events of TYPE and CODE whose
// sender wrote Info = 0, 1, 2 ... and, in Buffer1, the performance counter (decimal)
// just before each SendEvent. Each event's time is taken by the serving thread as its
// bytes come off the pipe (WireMessage::receivedAt), so waiting here adds nothing. Other
// messages are passed over as by expect; a gap or a change of order fails.
bool ScriptRunner::Measure(const ScriptCommand& command, std::string* failure) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> latenciesMs;
    latenciesMs.reserve(command.count);
    while (latenciesMs.size() < command.count) {
        const uint32_t next = (uint32_t)latenciesMs.size();
        WireMessage message;
        IomanEndpoint::Taken taken = m_ioman.TakeMessage(command.timeoutMs, &message, m_violationsSeen);
        if (taken == IomanEndpoint::Taken::Violation) {
            return CheckConformance(failure);
        }
        if (taken == IomanEndpoint::Taken::TimedOut) {
            *failure = "measured " + std::to_string(next) + " of " + std::to_string(command.count) +
                       " events; the next did not arrive within " + std::to_string(command.timeoutMs) + " ms";
            return false;
        }
        if (!Matches(command, message)) {
            m_log.Line("   passed over by measure at line %d: %s", command.line,
                       DescribeMessage(message).c_str());
            continue;
        }
        IMM imm;
        uint32_t extra;
        bool hasExtra;
        UnpackImmMessage(message, &imm, &extra, &hasExtra);
        if ((uint32_t)imm.Info != next) {
            *failure = "event " + std::to_string(next + 1) + " of " + std::to_string(command.count) +
                       " arrived with info=" + std::to_string(imm.Info) + ", not " + std::to_string(next) +
                       ": events lost or out of order";
            return false;
        }
        char text[sizeof imm.Buffer1 + 1] = {};
        memcpy(text, imm.Buffer1, sizeof imm.Buffer1);
        char* end = nullptr;
        const long long sentAt = strtoll(text, &end, 10);
        if (end == text || *end != '\0') {
            *failure = "event info=" + std::to_string(imm.Info) +
                       " carries no performance counter in buf1 (" +
                       QuoteText(reinterpret_cast<const uint8_t*>(imm.Buffer1), sizeof imm.Buffer1) + ")";
            return false;
        }
        latenciesMs.push_back((double)(message.receivedAt - sentAt) * 1000.0 / (double)frequency.QuadPart);
    }
    std::vector<double> sorted = latenciesMs;
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    // Nearest rank: the smallest value that at least 99 % of the events do not exceed.
    const size_t rank = (99 * n + 99) / 100;
    const double p99 = sorted[rank - 1];
    m_log.Result("measure: count=%u median_ms=%.3f p99_ms=%.3f min_ms=%.3f max_ms=%.3f in_order=1",
                 (unsigned)n, median, p99, sorted.front(), sorted.back());
    return true;
}

bool ScriptRunner::RecWaitResult(RecorderEndpoint::Wait result, const ScriptCommand& command,
                                 const std::string& what, std::string* failure) {
    if (result == RecorderEndpoint::Wait::Done) {
        return true;
    }
    if (result == RecorderEndpoint::Wait::Violation) {
        return CheckConformance(failure);
    }
    *failure = what + " within " + std::to_string(command.timeoutMs) + " ms";
    return false;
}

bool ScriptRunner::RecorderCommand(const ScriptCommand& command, std::string* failure) {
    switch (command.kind) {
    case CommandKind::RecExpectRegister:
        return RecWaitResult(
            m_recorder.WaitRegistered(command.timeoutMs, &m_registrationsSeen, m_recViolationsSeen), command,
            "no new registration with the recorder driver", failure);
    case CommandKind::RecExpectChannels: {
        const RecChannels channels =
            command.word == "VCLCTRL,VCLOG" ? RecChannels::ControlAndAudio : RecChannels::Control;
        return RecWaitResult(m_recorder.WaitChannels(channels, command.timeoutMs, m_recViolationsSeen),
                             command, "the registered client did not choose the channels " + command.word,
                             failure);
    }
    case CommandKind::RecExpectUnregister:
        return RecWaitResult(m_recorder.WaitUnregistered(command.timeoutMs, m_recViolationsSeen), command,
                             "the registration with the recorder driver was not given back", failure);
    case CommandKind::RecDrain:
        return RecWaitResult(m_recorder.WaitDrained(command.timeoutMs, m_recViolationsSeen), command,
                             "the recorder driver's queue was not read empty", failure);
    case CommandKind::RecEvent: {
        const uint32_t sequence = m_recorder.NextSequence();
        bool queued = false;
        if (!m_recorder.Queue("VCLCTRL",
                              PackRecEvent(command.recEvent, command.recValid, command.recLength, sequence),
                              false, kDefaultRecExpectMs, &queued)) {
            *failure = "the agent read nothing from the recorder driver for " +
                       std::to_string(kDefaultRecExpectMs) + " ms; the queue stayed full";
            return false;
        }
        m_log.Line("REC queued VCLCTRL event %u (valid %u, payload %u bytes, record %u)%s", command.recEvent,
                   command.recValid, command.recLength, sequence,
                   queued ? "" : ": dropped, no client takes VCLCTRL");
        return true;
    }
    case CommandKind::RecAudio:
        return RecAudio(command, failure);
    case CommandKind::RecRaw:
        m_recorder.QueueRaw(command.raw);
        m_log.Line("REC queued %u raw bytes", (unsigned)command.raw.size());
        return true;
    case CommandKind::RecFault: {
        RecFault fault = RecFault::None;
        ParseRecFault(command.word, &fault);
        m_recorder.SetFault(fault);
        m_log.Line("REC answers from now on: %s", RecFaultName(fault));
        return true;
    }
    case CommandKind::RecReport: {
        const RecorderFigures figures = m_recorder.Figures();
        m_log.Result("recorder: records_queued=%llu records_read=%llu dropped_unsubscribed=%llu "
                     "dropped_overflow=%llu audio_bytes_queued=%llu audio_bytes_read=%llu reads=%llu "
                     "max_queue_bytes=%llu",
                     (unsigned long long)figures.recordsQueued, (unsigned long long)figures.recordsRead,
                     (unsigned long long)figures.droppedUnsubscribed,
                     (unsigned long long)figures.droppedOverflow,
                     (unsigned long long)figures.audioBytesQueued, (unsigned long long)figures.audioBytesRead,
                     (unsigned long long)figures.reads, (unsigned long long)figures.maxQueueBytes);
        return true;
    }
    case CommandKind::RecRemove:
        m_log.Line("REC driver removed for %u ms", command.ms);
        if (!m_recorder.Remove()) {
            m_recorder.Restore();
            *failure = "the recorder driver's pipe did not close";
            return false;
        }
        Sleep(command.ms);
        m_recorder.Restore();
        m_log.Line("REC driver back");
        return true;
    case CommandKind::RecUnplug:
        m_log.Line("REC driver unplugged for %u ms: its open handle fails with error %u from now on",
                   command.ms, command.recError);
        m_recorder.Unplug(command.recError, command.ms);
        return true;
    default:
        *failure = "not a recorder command";
        return false;
    }
}

// The samples of a WAV file as the driver's audio records, `chunk` payload bytes each;
// `realtime` at the call's own pace (19200 bytes a second, kept to the clock, not to the
// sum of sleeps), otherwise as fast as the agent reads them.
bool ScriptRunner::RecAudio(const ScriptCommand& command, std::string* failure) {
    std::vector<uint8_t> samples;
    if (!ReadRecorderWav(command.path, &samples, failure)) {
        return false;
    }
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    uint64_t records = 0, taken = 0;
    for (size_t at = 0; at < samples.size(); at += command.chunk) {
        const size_t size = samples.size() - at < command.chunk ? samples.size() - at : command.chunk;
        if (command.realtime) {
            // This record is due once the audio before it has played.
            const double dueSeconds = (double)at / kRecAudioBytesPerSecond;
            for (;;) {
                QueryPerformanceCounter(&now);
                const double elapsed = (double)(now.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
                if (elapsed >= dueSeconds) {
                    break;
                }
                const double waitMs = (dueSeconds - elapsed) * 1000.0;
                Sleep(waitMs > 1.0 ? (DWORD)waitMs : 1);
            }
        }
        std::vector<uint8_t> payload(samples.begin() + at, samples.begin() + at + size);
        bool queued = false;
        if (!m_recorder.Queue("VCLOG", PackRecRecord("VCLOG", 0, m_recorder.NextSequence(), payload),
                              command.realtime, kDefaultRecExpectMs, &queued)) {
            *failure = "the agent stopped reading the recorder driver after " + std::to_string(at) + " of " +
                       std::to_string(samples.size()) + " audio bytes";
            return false;
        }
        ++records;
        taken += queued ? size : 0;
    }
    m_log.Line("REC queued %s: %u audio bytes in %llu records of up to %u bytes (%s), %llu bytes taken",
               command.path.c_str(), (unsigned)samples.size(), (unsigned long long)records, command.chunk,
               command.realtime ? "realtime" : "fast", (unsigned long long)taken);
    return true;
}

} // namespace orvin::sim
