#include "RecorderEndpoint_win.h"

#include <chrono>
#include <cstring>

namespace orvin::sim {

namespace {
constexpr DWORD kWriteTimeoutMs = 5000;
constexpr DWORD kControlTimeoutMs = 5000;
constexpr DWORD kPipeBufferSize = 65536;
constexpr size_t kKeptViolations = 100;
constexpr uint32_t kOverclaimLength = 40000;
constexpr uint32_t kLongExtra = 64;
constexpr uint32_t kFailedCallCount = 0xFFFFFFFF; // the pipe's answer to a device call that failed
constexpr uint32_t kTransientError = 1117;        // ERROR_IO_DEVICE
} // namespace

bool ParseRecFault(const std::string& word, RecFault* fault) {
    static const struct {
        const char* name;
        RecFault fault;
    } kFaults[] = {{"none", RecFault::None},           {"silent", RecFault::Silent},
                   {"fail", RecFault::Fail},           {"long", RecFault::Long},
                   {"overclaim", RecFault::Overclaim}, {"transient", RecFault::Transient}};
    for (const auto& entry : kFaults) {
        if (word == entry.name) {
            *fault = entry.fault;
            return true;
        }
    }
    return false;
}

const char* RecFaultName(RecFault fault) {
    switch (fault) {
    case RecFault::Silent:
        return "silent";
    case RecFault::Fail:
        return "fail";
    case RecFault::Long:
        return "long";
    case RecFault::Overclaim:
        return "overclaim";
    case RecFault::Transient:
        return "transient";
    default:
        return "none";
    }
}

bool RecorderEndpoint::Start(std::string* error) {
    m_name = FullPipeName(kRecorderPipeName);
    HANDLE first = CreateMessagePipeInstance(m_name, kPipeBufferSize);
    if (first == INVALID_HANDLE_VALUE) {
        *error = "can not serve \\\\.\\pipe\\" + std::string(kRecorderPipeName) + " (error " +
                 std::to_string(GetLastError()) + "; is another stand-in running?)";
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bServing = true;
    }
    m_thread = std::thread([this, first] { Serve(first); });
    return true;
}

void RecorderEndpoint::Stop() {
    if (m_thread.joinable()) {
        m_bStop = true;
        m_changed.notify_all();
        m_thread.join();
    }
}

bool RecorderEndpoint::Remove() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_bRemoved = true;
    return m_changed.wait_for(lock, std::chrono::milliseconds(kControlTimeoutMs),
                              [this] { return !m_bServing; });
}

void RecorderEndpoint::Restore() {
    m_bRemoved = false;
}

void RecorderEndpoint::Unplug(uint32_t error, DWORD ms) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_unpluggedConnection = m_connection;
    m_unplugError = error;
    m_absentUntil = GetTickCount64() + ms;
}

void RecorderEndpoint::Serve(HANDLE pipe) {
    int connections = 0;
    while (!m_bStop) {
        if (pipe == INVALID_HANDLE_VALUE) {
            bool removed;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                removed = m_bRemoved || GetTickCount64() < m_absentUntil;
                if (!removed) {
                    pipe = CreateMessagePipeInstance(m_name, kPipeBufferSize);
                    m_bServing = pipe != INVALID_HANDLE_VALUE;
                }
            }
            if (removed) {
                Sleep(5);
                continue;
            }
            if (pipe == INVALID_HANDLE_VALUE) {
                m_log.Error("REC: can not create a pipe instance (error %lu)", GetLastError());
                Sleep(100);
                continue;
            }
        }
        IoResult waited = WaitForClient(pipe, [this] { return Interrupted(); });
        if (waited == IoResult::Done && !Interrupted()) {
            ServeConnection(pipe, ++connections);
        } else if (waited == IoResult::Failed) {
            m_log.Error("REC: waiting for a client failed (error %lu)", GetLastError());
            Sleep(100);
        }
        DisconnectNamedPipe(pipe);
        CloseHandle(pipe);
        pipe = INVALID_HANDLE_VALUE;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bServing = false;
        }
        m_changed.notify_all();
    }
}

void RecorderEndpoint::ServeConnection(HANDLE pipe, int connection) {
    // Worded so that the other pipes' "connected" and "gone" lines stay theirs alone.
    m_log.Line("REC driver opened by client %d", connection);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connection = connection;
    }
    auto interrupted = [this] { return Interrupted(); };
    std::vector<uint8_t> message;
    int number = 0;
    IoResult result;
    while ((result = ReadMessage(pipe, &message, interrupted)) == IoResult::Done) {
        std::vector<uint8_t> answer = Answer(message, connection, ++number);
        if (WriteAll(pipe, answer.data(), (DWORD)answer.size(), interrupted, kWriteTimeoutMs) !=
            IoResult::Done) {
            m_log.Line("REC client %d: the answer to request %d could not be written", connection, number);
            break;
        }
    }
    {
        // The driver frees what a client that closed its handle had registered.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_registration >= 0) {
            m_log.Line("REC registration 0x%X freed: client %d closed the driver", (unsigned)m_registration,
                       connection);
        }
        m_registration = -1;
        m_channels = RecChannels::None;
        m_connection = 0;
        DropUnsubscribed();
    }
    m_changed.notify_all();
    m_log.Line("REC driver closed by client %d%s", connection, m_bRemoved ? " (the driver is removed)" : "");
}

void RecorderEndpoint::Violation(const std::string& where, const std::string& fault) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bLenient) {
        ++m_warningCount;
        m_log.Warning("REC %s: %s", where.c_str(), fault.c_str());
        return;
    }
    ++m_violationCount;
    if (m_violations.size() < kKeptViolations) {
        m_violations.push_back(where + ": " + fault);
    }
    m_log.Error("REC %s: %s", where.c_str(), fault.c_str());
    m_changed.notify_all();
}

bool RecorderEndpoint::Subscribed(const std::string& channel) const {
    if (channel == "VCLCTRL") {
        return m_channels != RecChannels::None;
    }
    if (channel == "VCLOG") {
        return m_channels == RecChannels::ControlAndAudio;
    }
    return false;
}

void RecorderEndpoint::DropUnsubscribed() {
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (!it->channel.empty() && !Subscribed(it->channel)) {
            ++m_figures.droppedUnsubscribed;
            m_queueBytes -= it->bytes.size();
            it = m_queue.erase(it);
        } else {
            ++it;
        }
    }
}

std::vector<uint8_t> RecorderEndpoint::Answer(const std::vector<uint8_t>& message, int connection,
                                              int number) {
    const std::string where = "client " + std::to_string(connection) + ", request " + std::to_string(number);
    RecRequest request;
    std::string parseFault;
    if (!ParseRecRequest(message, &request, &parseFault)) {
        Violation(where, parseFault);
        std::vector<uint8_t> nothing(4, 0);
        return nothing;
    }
    std::vector<std::string> faults;
    RecChannels asked = RecChannels::None;
    int32_t registration;
    RecFault fault;
    uint32_t failWith = 0; // the device call fails with this error
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        registration = m_registration;
        fault = m_fault;
        if (connection == m_unpluggedConnection) {
            failWith = m_unplugError;
        }
    }
    CheckRecRequest(request, registration, &faults, &asked);
    for (const std::string& text : faults) {
        Violation(where, text);
    }

    std::vector<uint8_t> buffer;
    if (fault == RecFault::Silent) {
        m_log.Line("REC client %d: request 0x%X answered with nothing (fault silent)", connection,
                   request.command);
        return std::vector<uint8_t>(4, 0);
    }
    const char* why = failWith ? "unplugged" : "fault transient";
    if (!failWith && fault == RecFault::Transient) {
        failWith = kTransientError;
    }
    if (failWith) {
        m_log.Line("REC client %d: request 0x%X failed with error %u (%s)", connection, request.command,
                   failWith, why);
        std::vector<uint8_t> failed(8, 0);
        memcpy(failed.data(), &kFailedCallCount, 4);
        memcpy(failed.data() + 4, &failWith, 4);
        return failed;
    }
    if (fault == RecFault::Fail) {
        m_log.Line("REC client %d: request 0x%X failed (fault fail)", connection, request.command);
        buffer = RecReply(request, kRecStatusFailed, 0, {});
    } else if (!faults.empty() && request.command != kRecCmdRead) {
        buffer = RecReply(request, kRecStatusBadRequest, 0, {});
    } else {
        switch (request.command) {
        case kRecCmdRegister: {
            std::vector<uint8_t> data = request.data;
            uint32_t handle;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                handle = m_nextHandle++;
                m_registration = (int32_t)handle;
                ++m_registrations;
                m_channels = RecChannels::Control;
            }
            m_changed.notify_all();
            if (data.size() >= kRecRegisterSize) {
                memcpy(data.data() + kRecRegisterSize - 4, &handle, 4);
            }
            m_log.Line("REC client %d registered: registration 0x%X, channels VCLCTRL", connection, handle);
            buffer = RecReply(request, kRecStatusOk, (uint32_t)data.size(), data);
            break;
        }
        case kRecCmdUnregister: {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_registration = -1;
            m_channels = RecChannels::None;
            DropUnsubscribed();
        }
            m_changed.notify_all();
            m_log.Line("REC client %d unregistered", connection);
            buffer = RecReply(request, kRecStatusOk, 0, {});
            break;
        case kRecCmdChooseChannels: {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_channels = asked;
            DropUnsubscribed();
        }
            m_changed.notify_all();
            m_log.Line("REC client %d chose channels %s", connection, ChannelsName(asked));
            buffer = RecReply(request, kRecStatusOk, (uint32_t)request.data.size(), request.data);
            break;
        case kRecCmdRead:
            buffer = ReadAnswer(request, fault);
            break;
        default:
            buffer = RecReply(request, kRecStatusBadRequest, 0, {});
            break;
        }
    }
    const uint32_t count = (uint32_t)buffer.size() + (fault == RecFault::Long ? kLongExtra : 0);
    std::vector<uint8_t> reply(4 + count, 0);
    memcpy(reply.data(), &count, 4);
    memcpy(reply.data() + 4, buffer.data(), buffer.size());
    if (fault == RecFault::Long) {
        m_log.Line("REC client %d: request 0x%X answered with %u bytes more than its buffer (fault long)",
                   connection, request.command, kLongExtra);
    }
    return reply;
}

// Whole records from the front of the queue, as many as the buffer takes; raw bytes go
// alone. A scripted fault that makes the answer useless takes nothing from the queue.
std::vector<uint8_t> RecorderEndpoint::ReadAnswer(const RecRequest& request, RecFault fault) {
    std::vector<uint8_t> data;
    const size_t room = request.data.size();
    uint64_t records = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_figures.reads;
        m_lastReadTick = GetTickCount64();
        if (fault != RecFault::Long) {
            DropUnsubscribed();
            while (!m_queue.empty()) {
                Queued& next = m_queue.front();
                if (next.channel.empty()) {
                    if (data.empty()) {
                        data = next.bytes;
                        if (data.size() > room) {
                            data.resize(room);
                        }
                        m_queueBytes -= next.bytes.size();
                        m_queue.pop_front();
                    }
                    break;
                }
                if (data.size() + next.bytes.size() > room) {
                    break;
                }
                data.insert(data.end(), next.bytes.begin(), next.bytes.end());
                ++records;
                m_figures.audioBytesRead += next.audioBytes;
                m_queueBytes -= next.bytes.size();
                m_queue.pop_front();
            }
            m_figures.recordsRead += records;
        }
    }
    m_changed.notify_all();
    const uint32_t claimed = fault == RecFault::Overclaim ? kOverclaimLength : (uint32_t)data.size();
    return RecReply(request, kRecStatusOk, claimed, data);
}

uint32_t RecorderEndpoint::NextSequence() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return ++m_sequence;
}

bool RecorderEndpoint::Queue(const char* channel, std::vector<uint8_t> record, bool realtime, DWORD timeoutMs,
                             bool* queued) {
    *queued = false;
    const bool audio = strcmp(channel, "VCLOG") == 0;
    const uint32_t audioBytes = audio ? (uint32_t)(record.size() - kRecRecordHeader) : 0;
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_figures.recordsQueued;
    m_figures.audioBytesQueued += audioBytes;
    if (!Subscribed(channel)) {
        ++m_figures.droppedUnsubscribed;
        return true;
    }
    if (m_queueBytes + record.size() > m_queueLimit) {
        if (realtime) {
            ++m_figures.droppedOverflow;
            return true;
        }
        // Room comes with the next reads; a client that stopped reading fails the wait.
        ULONGLONG waitStart = GetTickCount64();
        while (m_queueBytes + record.size() > m_queueLimit) {
            if (m_bStop || !Subscribed(channel)) {
                ++m_figures.droppedUnsubscribed;
                return !m_bStop;
            }
            const ULONGLONG lastActivity = m_lastReadTick > waitStart ? m_lastReadTick : waitStart;
            if (GetTickCount64() - lastActivity > timeoutMs) {
                ++m_figures.droppedOverflow;
                return false;
            }
            m_changed.wait_for(lock, std::chrono::milliseconds(50));
        }
    }
    m_queueBytes += record.size();
    if (m_queueBytes > m_figures.maxQueueBytes) {
        m_figures.maxQueueBytes = m_queueBytes;
    }
    m_queue.push_back(Queued{channel, std::move(record), audioBytes});
    *queued = true;
    return true;
}

void RecorderEndpoint::QueueRaw(std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queueBytes += bytes.size();
    m_queue.push_back(Queued{"", std::move(bytes), 0});
}

void RecorderEndpoint::SetFault(RecFault fault) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fault = fault;
}

RecorderFigures RecorderEndpoint::Figures() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_figures;
}

template <class Ready>
RecorderEndpoint::Wait RecorderEndpoint::WaitFor(DWORD timeoutMs, int violationsSeen, Ready ready) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (ready()) {
            return Wait::Done;
        }
        if (m_violationCount > violationsSeen) {
            return Wait::Violation;
        }
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            return ready() ? Wait::Done : Wait::TimedOut;
        }
    }
}

RecorderEndpoint::Wait RecorderEndpoint::WaitRegistered(DWORD timeoutMs, uint64_t* seen, int violationsSeen) {
    Wait result =
        WaitFor(timeoutMs, violationsSeen, [&] { return m_registration >= 0 && m_registrations > *seen; });
    if (result == Wait::Done) {
        std::lock_guard<std::mutex> lock(m_mutex);
        *seen = m_registrations;
    }
    return result;
}

RecorderEndpoint::Wait RecorderEndpoint::WaitChannels(RecChannels channels, DWORD timeoutMs,
                                                      int violationsSeen) {
    return WaitFor(timeoutMs, violationsSeen, [&] { return m_registration >= 0 && m_channels == channels; });
}

RecorderEndpoint::Wait RecorderEndpoint::WaitUnregistered(DWORD timeoutMs, int violationsSeen) {
    return WaitFor(timeoutMs, violationsSeen, [&] { return m_registration < 0; });
}

RecorderEndpoint::Wait RecorderEndpoint::WaitDrained(DWORD timeoutMs, int violationsSeen) {
    return WaitFor(timeoutMs, violationsSeen, [&] { return m_queue.empty(); });
}

int RecorderEndpoint::Violations() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_violationCount;
}

std::string RecorderEndpoint::ViolationText(int number) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (number < 0 || number >= (int)m_violations.size()) {
        return "(see the log)";
    }
    return m_violations[number];
}

int RecorderEndpoint::Warnings() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_warningCount;
}

} // namespace orvin::sim
