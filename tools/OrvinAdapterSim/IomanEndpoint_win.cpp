#include "IomanEndpoint_win.h"

#include <chrono>

namespace orvin::sim {

namespace {
constexpr DWORD kWriteTimeoutMs = 5000;
constexpr DWORD kControlTimeoutMs = 5000;
constexpr size_t kKeptViolations = 100;
} // namespace

bool IomanEndpoint::Start(std::string* error) {
    m_name = FullPipeName(kIomanPipeName);
    HANDLE first = CreatePipeInstance(m_name, true, 1);
    if (first == INVALID_HANDLE_VALUE) {
        *error = "can not serve \\\\.\\pipe\\" + std::string(kIomanPipeName) + " (error " +
                 std::to_string(GetLastError()) + "; is another service running?)";
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bInstanceOpen = true;
    }
    m_thread = std::thread([this, first] { Serve(first); });
    return true;
}

void IomanEndpoint::Stop() {
    if (m_thread.joinable()) {
        m_bStop = true;
        m_thread.join();
    }
}

void IomanEndpoint::Serve(HANDLE pipe) {
    while (!m_bStop) {
        if (pipe == INVALID_HANDLE_VALUE) {
            bool suspended;
            {
                // Under the lock, so that a stop of the service either sees the instance
                // or keeps it from being made.
                std::lock_guard<std::mutex> lock(m_mutex);
                suspended = m_bSuspended;
                if (!suspended) {
                    pipe = CreatePipeInstance(m_name, false, 1);
                    m_bInstanceOpen = pipe != INVALID_HANDLE_VALUE;
                }
            }
            if (suspended) {
                Sleep(5);
                continue;
            }
            if (pipe == INVALID_HANDLE_VALUE) {
                m_log.Error("IOMAN: can not create a pipe instance (error %lu)", GetLastError());
                Sleep(100);
                continue;
            }
        }
        IoResult waited = WaitForClient(pipe, [this] { return Interrupted(); });
        if (waited == IoResult::Done) {
            ServeConnection(pipe);
        } else if (waited == IoResult::Failed) {
            m_log.Error("IOMAN: waiting for the agent failed (error %lu)", GetLastError());
            Sleep(100);
        }
        CloseInstance(pipe);
        pipe = INVALID_HANDLE_VALUE;
    }
}

void IomanEndpoint::ServeConnection(HANDLE pipe) {
    const int connection = ++m_connections;
    m_log.Line("IOMAN agent connected");
    uint32_t index = 0;
    auto interrupted = [this] { return Interrupted(); };
    if (ReadExact(pipe, &index, sizeof index, interrupted) != IoResult::Done) {
        m_log.Line("IOMAN agent left before greeting");
        return;
    }
    m_log.Line("IOMAN greeting adapter=%u", index);
    const std::string connectionText = "IOMAN connection " + std::to_string(connection);
    for (const std::string& fault : CheckGreeting(index)) {
        Violation(connectionText + ", greeting at byte 0", fault);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hConnected = pipe;
        m_index = index;
        ++m_greetings;
    }
    m_changed.notify_all();

    MessageSplitter splitter(sizeof index);
    int number = 0;
    uint8_t chunk[4096];
    for (;;) {
        DWORD got = 0;
        // Blocks until bytes arrive (or the connection ends): the stamp is the moment the
        // agent's bytes came off the pipe.
        IoResult result = ReadSome(pipe, chunk, sizeof chunk, &got, interrupted);
        LARGE_INTEGER readAt;
        QueryPerformanceCounter(&readAt);
        if (result != IoResult::Done) {
            m_log.Line(result == IoResult::Cancelled ? "IOMAN connection closed by the stand-in"
                                                     : "IOMAN agent disconnected");
            break;
        }
        splitter.Feed(chunk, got);
        WireMessage message;
        for (uint64_t offset = splitter.NextOffset(); splitter.Next(&message);
             offset = splitter.NextOffset()) {
            message.receivedAt = readAt.QuadPart;
            ++number;
            m_log.LineAt(readAt.QuadPart, "RX %s", DescribeMessage(message).c_str());
            const std::string where = connectionText + ", message " + std::to_string(number) + " at byte " +
                                      std::to_string(offset) + " (Size " +
                                      std::to_string(message.Header().Size) + ", kind " +
                                      std::to_string(message.Header().Kind) + ")";
            for (const std::string& fault : CheckAgentMessage(message, index)) {
                Violation(where, fault);
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_received.push_back(std::move(message));
            }
            m_changed.notify_all();
        }
        if (splitter.Broken()) {
            Violation(connectionText + ", message " + std::to_string(number + 1) + " at byte " +
                          std::to_string(splitter.NextOffset()),
                      "Size " + std::to_string(splitter.BrokenSize()) + " is outside " +
                          std::to_string(kBusHeaderSize) + ".." + std::to_string(kMaxAgentMessage) +
                          ": no message of the agent has it, and the stream can not be framed again; "
                          "the connection is dropped");
            break;
        }
    }
    if (splitter.Pending()) {
        m_log.Line("IOMAN %u bytes of an incomplete message dropped", (unsigned)splitter.Pending());
    }
}

void IomanEndpoint::Violation(const std::string& where, const std::string& fault) {
    if (m_bLenient) {
        m_log.Warning("%s: %s", where.c_str(), fault.c_str());
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_warningCount;
        return;
    }
    m_log.Error("%s: %s", where.c_str(), fault.c_str());
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_violations.size() < kKeptViolations) {
            m_violations.push_back(where + ": " + fault);
        }
        ++m_violationCount;
    }
    m_changed.notify_all();
}

int IomanEndpoint::Violations() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_violationCount;
}

std::string IomanEndpoint::ViolationText(int number) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return number >= 0 && (size_t)number < m_violations.size()
               ? m_violations[number]
               : "(more than " + std::to_string(kKeptViolations) + " violations; see the log)";
}

int IomanEndpoint::Warnings() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_warningCount;
}

void IomanEndpoint::CloseInstance(HANDLE pipe) {
    {
        // No write may be in flight on the instance we close.
        std::lock_guard<std::mutex> writing(m_writeMutex);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hConnected = nullptr;
        DisconnectNamedPipe(pipe);
        CloseHandle(pipe);
        m_bInstanceOpen = false;
        m_bBreak = false;
    }
    m_changed.notify_all();
}

uint32_t IomanEndpoint::AdapterIndex() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hConnected ? m_index : 0;
}

bool IomanEndpoint::WaitGreeted(DWORD timeoutMs, uint64_t* seen, int violationsSeen) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto greetedNow = [&] { return m_hConnected != nullptr && m_greetings > *seen; };
    m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [&] { return greetedNow() || m_violationCount > violationsSeen; });
    const bool greeted = greetedNow();
    if (greeted) {
        *seen = m_greetings;
    }
    return greeted;
}

bool IomanEndpoint::WriteBytes(const std::vector<uint8_t>& bytes, std::string* error) {
    std::lock_guard<std::mutex> writing(m_writeMutex);
    HANDLE pipe;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        pipe = m_hConnected;
    }
    if (!pipe) {
        *error = "no agent is connected";
        return false;
    }
    IoResult result = WriteAll(
        pipe, bytes.data(), (DWORD)bytes.size(), [this] { return m_bStop.load(); }, kWriteTimeoutMs);
    if (result == IoResult::Done) {
        return true;
    }
    *error = result == IoResult::TimedOut
                 ? "the agent took nothing for " + std::to_string(kWriteTimeoutMs) + " ms"
                 : "the write to the agent failed (error " + std::to_string(GetLastError()) + ")";
    return false;
}

IomanEndpoint::Taken IomanEndpoint::TakeMessage(DWORD timeoutMs, WireMessage* message, int violationsSeen) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return !m_received.empty() || m_violationCount > violationsSeen; })) {
        return Taken::TimedOut;
    }
    if (m_violationCount > violationsSeen) {
        return Taken::Violation;
    }
    *message = std::move(m_received.front());
    m_received.pop_front();
    return Taken::Message;
}

bool IomanEndpoint::Break() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_bInstanceOpen) {
        return true;
    }
    m_bBreak = true;
    return m_changed.wait_for(lock, std::chrono::milliseconds(kControlTimeoutMs),
                              [this] { return !m_bBreak; });
}

bool IomanEndpoint::Suspend() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_bSuspended = true;
    return m_changed.wait_for(lock, std::chrono::milliseconds(kControlTimeoutMs),
                              [this] { return !m_bInstanceOpen; });
}

void IomanEndpoint::Resume() {
    m_bSuspended = false;
}

} // namespace orvin::sim
