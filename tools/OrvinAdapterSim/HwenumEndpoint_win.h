// The service end of "VCORE\HWENUM": the adapter enumeration. Every client gets its own
// instance and thread, and each 16-byte request its answer (EnumProtocol.h), held back
// when the configuration says so. A client's thread ends with its connection and leaves
// nothing behind: its handle is closed when it starts and its record freed when it ends.
// While the service is stopped no instance exists and connected clients are dropped.
//
// Threads: an accepting thread and one thread per client; the configuration is fixed
// before Start. The client table (shared with the client threads, so that the last of
// them may still be leaving when the endpoint goes) counts the running clients under its
// own lock; the accepting thread alone sets `listening`.
#pragma once

#include "EnumProtocol.h"
#include "PipeServer_win.h"
#include "SimCommon/SimLog.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace orvin::sim {

constexpr const char* kHwenumPipeName = "VCORE\\HWENUM";

class HwenumEndpoint {
public:
    HwenumEndpoint(SimLog& log, EnumConfig config) : m_log(log), m_config(std::move(config)) {}
    ~HwenumEndpoint() { Stop(); }

    bool Start(std::string* error);
    // Ends serving and waits for every client thread.
    void Stop();

    // Takes every instance away and drops the clients; false when that took too long.
    bool Suspend();
    void Resume();

    // Client threads still running.
    int RunningClients();

private:
    struct ClientTable {
        std::mutex mutex;
        std::condition_variable changed;
        int running = 0;
        bool listening = false; // an instance waits for a client
    };
    struct ClientStart;
    static unsigned __stdcall ClientMain(void* start);

    void Accept(HANDLE first);
    // A new instance, or INVALID_HANDLE_VALUE (after a pause) while stopped or refused.
    HANDLE NewInstance();
    void StartClient(HANDLE pipe, int client);
    void ServeClient(HANDLE pipe, int client);
    void SetListening(bool listening);
    bool Interrupted() const { return m_bStop || m_bSuspended; }

    SimLog& m_log;
    const EnumConfig m_config;
    std::wstring m_name;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bSuspended{false};
    std::thread m_acceptor;
    const std::shared_ptr<ClientTable> m_clients = std::make_shared<ClientTable>();
};

} // namespace orvin::sim
