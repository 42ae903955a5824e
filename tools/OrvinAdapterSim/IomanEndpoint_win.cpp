#include "IomanEndpoint_win.h"

#include <chrono>

namespace orvin::sim {

namespace {
constexpr DWORD kWriteTimeoutMs = 5000;
constexpr DWORD kControlTimeoutMs = 5000;
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
            if (m_bSuspended) {
                Sleep(5);
                continue;
            }
            pipe = CreatePipeInstance(m_name, false, 1);
            if (pipe == INVALID_HANDLE_VALUE) {
                m_log.Error("IOMAN: can not create a pipe instance (error %lu)", GetLastError());
                Sleep(100);
                continue;
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bInstanceOpen = true;
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
    m_log.Line("IOMAN agent connected");
    uint32_t index = 0;
    auto interrupted = [this] { return Interrupted(); };
    if (ReadExact(pipe, &index, sizeof index, interrupted) != IoResult::Done) {
        m_log.Line("IOMAN agent left before greeting");
        return;
    }
    m_log.Line("IOMAN greeting adapter=%u", index);
    if (index > 4) {
        m_log.Error("IOMAN: the agent greeted with adapter index %u (0 to 4 expected)", index);
        ++m_protocolFaults;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hConnected = pipe;
        m_index = index;
        ++m_greetings;
    }
    m_changed.notify_all();

    MessageSplitter splitter;
    uint8_t chunk[4096];
    for (;;) {
        DWORD got = 0;
        IoResult result = ReadSome(pipe, chunk, sizeof chunk, &got, interrupted);
        if (result != IoResult::Done) {
            m_log.Line(result == IoResult::Cancelled ? "IOMAN connection closed by the stand-in"
                                                     : "IOMAN agent disconnected");
            break;
        }
        splitter.Feed(chunk, got);
        WireMessage message;
        while (splitter.Next(&message)) {
            m_log.Line("RX %s", DescribeMessage(message).c_str());
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_received.push_back(std::move(message));
            }
            m_changed.notify_all();
        }
        if (splitter.Broken()) {
            m_log.Error("IOMAN: the agent sent a header with Size=%u: the stream can not be read on; "
                        "closing the connection",
                        splitter.BrokenSize());
            ++m_protocolFaults;
            break;
        }
    }
    if (splitter.Pending()) {
        m_log.Line("IOMAN %u bytes of an incomplete message dropped", (unsigned)splitter.Pending());
    }
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

bool IomanEndpoint::WaitGreeted(DWORD timeoutMs, uint64_t* seen) {
    std::unique_lock<std::mutex> lock(m_mutex);
    bool greeted = m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                      [&] { return m_hConnected != nullptr && m_greetings > *seen; });
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

bool IomanEndpoint::TakeMessage(DWORD timeoutMs, WireMessage* message) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return !m_received.empty(); })) {
        return false;
    }
    *message = std::move(m_received.front());
    m_received.pop_front();
    return true;
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
