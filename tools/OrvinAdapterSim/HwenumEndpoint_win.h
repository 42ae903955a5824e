// The service end of "VCORE\HWENUM": the adapter enumeration. Every client gets its own
// instance and thread, and each 16-byte request its answer (EnumProtocol.h), held back
// when the configuration says so.
//
// Threads: an accepting thread and one thread per client; the configuration is fixed
// before Start.
#pragma once

#include "EnumProtocol.h"
#include "PipeServer_win.h"
#include "SimLog.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvin::sim {

constexpr const char* kHwenumPipeName = "VCORE\\HWENUM";

class HwenumEndpoint {
public:
    HwenumEndpoint(SimLog& log, EnumConfig config) : m_log(log), m_config(std::move(config)) {}
    ~HwenumEndpoint() { Stop(); }

    bool Start(std::string* error);
    void Stop();

private:
    void Accept(HANDLE first);
    void ServeClient(HANDLE pipe, int client);

    SimLog& m_log;
    const EnumConfig m_config;
    std::wstring m_name;
    std::atomic<bool> m_bStop{false};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<std::thread> m_clients;
};

} // namespace orvin::sim
