#include "HwenumEndpoint_win.h"

#include "ProcessResources_win.h"

#include <process.h>

#include <chrono>
#include <cstring>

namespace orvin::sim {

namespace {
constexpr DWORD kControlTimeoutMs = 5000;
constexpr DWORD kSuspendedPollMs = 5;
} // namespace

// What a client's thread owns: its connection and a share of the client table.
struct HwenumEndpoint::ClientStart {
    HwenumEndpoint* endpoint;
    std::shared_ptr<ClientTable> table;
    HANDLE pipe;
    int client;
};

bool HwenumEndpoint::Start(std::string* error) {
    m_name = FullPipeName(kHwenumPipeName);
    HANDLE first = CreatePipeInstance(m_name, true, PIPE_UNLIMITED_INSTANCES);
    if (first == INVALID_HANDLE_VALUE) {
        *error = "can not serve \\\\.\\pipe\\" + std::string(kHwenumPipeName) + " (error " +
                 std::to_string(GetLastError()) + "; is another service running?)";
        return false;
    }
    SetListening(true);
    m_acceptor = std::thread([this, first] { Accept(first); });
    return true;
}

void HwenumEndpoint::Stop() {
    m_bStop = true;
    if (m_acceptor.joinable()) {
        m_acceptor.join();
    }
    // Every client sees the stop within a slice of its wait.
    std::unique_lock<std::mutex> lock(m_clients->mutex);
    m_clients->changed.wait(lock, [this] { return m_clients->running == 0; });
}

bool HwenumEndpoint::Suspend() {
    std::unique_lock<std::mutex> lock(m_clients->mutex);
    m_bSuspended = true;
    return m_clients->changed.wait_for(lock, std::chrono::milliseconds(kControlTimeoutMs),
                                       [this] { return !m_clients->listening && m_clients->running == 0; });
}

void HwenumEndpoint::Resume() {
    m_bSuspended = false;
}

int HwenumEndpoint::RunningClients() {
    std::lock_guard<std::mutex> lock(m_clients->mutex);
    return m_clients->running;
}

void HwenumEndpoint::SetListening(bool listening) {
    {
        std::lock_guard<std::mutex> lock(m_clients->mutex);
        m_clients->listening = listening;
    }
    m_clients->changed.notify_all();
}

void HwenumEndpoint::Accept(HANDLE pipe) {
    int clients = 0;
    auto interrupted = [this] { return Interrupted(); };
    while (!m_bStop) {
        if (pipe == INVALID_HANDLE_VALUE) {
            pipe = NewInstance();
            if (pipe == INVALID_HANDLE_VALUE) {
                continue;
            }
        }
        IoResult waited = WaitForClient(pipe, interrupted);
        if (waited == IoResult::Done && !Interrupted()) {
            StartClient(pipe, ++clients);
        } else {
            // A client that came as the service stopped goes with the instance.
            DisconnectNamedPipe(pipe);
            CloseHandle(pipe);
        }
        pipe = INVALID_HANDLE_VALUE;
        SetListening(false);
    }
}

HANDLE HwenumEndpoint::NewInstance() {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    bool suspended;
    {
        // Under the table's lock, so that a stop of the service either sees the instance
        // or keeps it from being made.
        std::lock_guard<std::mutex> lock(m_clients->mutex);
        suspended = m_bSuspended;
        if (!suspended) {
            pipe = CreatePipeInstance(m_name, false, PIPE_UNLIMITED_INSTANCES);
            m_clients->listening = pipe != INVALID_HANDLE_VALUE;
        }
    }
    if (suspended) {
        Sleep(kSuspendedPollMs);
    } else if (pipe == INVALID_HANDLE_VALUE) {
        m_log.Error("ENUM: can not create a pipe instance (error %lu)", GetLastError());
        SleepUnless(100, [this] { return m_bStop.load(); });
    }
    return pipe;
}

void HwenumEndpoint::StartClient(HANDLE pipe, int client) {
    {
        std::lock_guard<std::mutex> lock(m_clients->mutex);
        ++m_clients->running;
    }
    auto* start = new ClientStart{this, m_clients, pipe, client};
    // The thread is not waited for by its handle: the handle goes at once, and the thread
    // counts itself out of the table when it ends.
    uintptr_t thread = _beginthreadex(nullptr, 0, ClientMain, start, 0, nullptr);
    if (thread) {
        CloseHandle(reinterpret_cast<HANDLE>(thread));
        return;
    }
    m_log.Error("ENUM: can not start a thread for client %d (error %d)", client, errno);
    delete start;
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
    {
        std::lock_guard<std::mutex> lock(m_clients->mutex);
        --m_clients->running;
    }
    m_clients->changed.notify_all();
}

unsigned __stdcall HwenumEndpoint::ClientMain(void* argument) {
    std::unique_ptr<ClientStart> start(static_cast<ClientStart*>(argument));
    start->endpoint->ServeClient(start->pipe, start->client);
    // Last touch of the endpoint above; from here on only the shared table, which this
    // thread keeps alive until it returns.
    std::shared_ptr<ClientTable> table = start->table;
    {
        std::lock_guard<std::mutex> lock(table->mutex);
        --table->running;
        table->changed.notify_all();
    }
    return 0;
}

void HwenumEndpoint::ServeClient(HANDLE pipe, int client) {
    auto interrupted = [this] { return Interrupted(); };
    m_log.Line("ENUM client %d connected", client);
    uint8_t request[kEnumRequestBytes];
    while (ReadExact(pipe, request, sizeof request, interrupted) == IoResult::Done) {
        std::string note;
        std::vector<uint8_t> answer = AnswerEnumRequest(m_config, request, &note);
        uint32_t command;
        memcpy(&command, request + 4, 4);
        uint32_t delay = m_config.delayMs + (command == kEnumCommandKey ? m_config.keyDelayMs : 0);
        if (delay) {
            note += " (answered after " + std::to_string(delay) + " ms)";
        }
        m_log.Line("ENUM client %d: %s", client, note.c_str());
        if (!SleepUnless(delay, interrupted) ||
            WriteAll(pipe, answer.data(), (DWORD)answer.size(), interrupted, 5000) != IoResult::Done) {
            break;
        }
    }
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
    // What the process holds once this client is gone (this thread still runs): a long run
    // of clients must not make it grow. Counted only when no other client is being served,
    // so that the figures of two lone clients compare.
    ProcessResources resources;
    int running = RunningClients();
    if (running == 1 && CountProcessResources(&resources)) {
        m_log.Line("ENUM client %d gone (clients running %d, handles %u)", client, running - 1,
                   resources.handles);
    } else {
        m_log.Line("ENUM client %d gone (clients running %d)", client, running - 1);
    }
}

} // namespace orvin::sim
