#include "HwenumEndpoint_win.h"

#include <cstring>

namespace orvin::sim {

bool HwenumEndpoint::Start(std::string* error) {
    m_name = FullPipeName(kHwenumPipeName);
    HANDLE first = CreatePipeInstance(m_name, true, PIPE_UNLIMITED_INSTANCES);
    if (first == INVALID_HANDLE_VALUE) {
        *error = "can not serve \\\\.\\pipe\\" + std::string(kHwenumPipeName) + " (error " +
                 std::to_string(GetLastError()) + "; is another service running?)";
        return false;
    }
    m_acceptor = std::thread([this, first] { Accept(first); });
    return true;
}

void HwenumEndpoint::Stop() {
    m_bStop = true;
    if (m_acceptor.joinable()) {
        m_acceptor.join();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    for (std::thread& client : m_clients) {
        client.join();
    }
    m_clients.clear();
}

void HwenumEndpoint::Accept(HANDLE pipe) {
    int clients = 0;
    auto stop = [this] { return m_bStop.load(); };
    while (!m_bStop) {
        if (pipe == INVALID_HANDLE_VALUE) {
            pipe = CreatePipeInstance(m_name, false, PIPE_UNLIMITED_INSTANCES);
            if (pipe == INVALID_HANDLE_VALUE) {
                m_log.Error("ENUM: can not create a pipe instance (error %lu)", GetLastError());
                SleepUnless(100, stop);
                continue;
            }
        }
        IoResult waited = WaitForClient(pipe, stop);
        if (waited != IoResult::Done) {
            CloseHandle(pipe);
            pipe = INVALID_HANDLE_VALUE;
            continue;
        }
        int client = ++clients;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_clients.emplace_back([this, pipe, client] { ServeClient(pipe, client); });
        pipe = INVALID_HANDLE_VALUE;
    }
    if (pipe != INVALID_HANDLE_VALUE) {
        CloseHandle(pipe);
    }
}

void HwenumEndpoint::ServeClient(HANDLE pipe, int client) {
    auto stop = [this] { return m_bStop.load(); };
    m_log.Line("ENUM client %d connected", client);
    uint8_t request[kEnumRequestBytes];
    while (ReadExact(pipe, request, sizeof request, stop) == IoResult::Done) {
        std::string note;
        std::vector<uint8_t> answer = AnswerEnumRequest(m_config, request, &note);
        uint32_t command;
        memcpy(&command, request + 4, 4);
        uint32_t delay = m_config.delayMs + (command == kEnumCommandKey ? m_config.keyDelayMs : 0);
        if (delay) {
            note += " (answered after " + std::to_string(delay) + " ms)";
        }
        m_log.Line("ENUM client %d: %s", client, note.c_str());
        if (!SleepUnless(delay, stop) ||
            WriteAll(pipe, answer.data(), (DWORD)answer.size(), stop, 5000) != IoResult::Done) {
            break;
        }
    }
    m_log.Line("ENUM client %d gone", client);
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
}

} // namespace orvin::sim
