// A stand-in kernel device for tests: serves the message-mode pipe "\\.\pipe\NAME" the
// way DriverChannel carries DeviceIoControl requests over it, records every request and
// answers with a reply the test may shape. While it serves, the registry switch lets the
// agent's channels use the pipe for NAME (HKLM\SOFTWARE\OrvinTest\DriverPipes, the value
// NAME = 1), unless the test asks for a pipe the agent must not use.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The switch that lets DriverChannel use the pipe stand-in of one device, set while this
// lives (a value that was there before stays).
class DriverPipeSwitch {
public:
    explicit DriverPipeSwitch(const char* name) : m_name(name) {
        DWORD value = 0, size = sizeof value;
        m_bWasSet = RegGetValueA(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) ==
                    ERROR_SUCCESS;
        value = 1;
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kKey, name, REG_DWORD, &value, sizeof value);
    }
    ~DriverPipeSwitch() {
        if (!m_bWasSet) {
            RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kKey, m_name.c_str());
        }
    }
    DriverPipeSwitch(const DriverPipeSwitch&) = delete;
    DriverPipeSwitch& operator=(const DriverPipeSwitch&) = delete;

    static constexpr const char* kKey = "SOFTWARE\\OrvinTest\\DriverPipes";

private:
    std::string m_name;
    bool m_bWasSet = false;
};

struct DriverRequestSeen {
    uint32_t ioctl = 0;
    std::vector<uint8_t> buffer; // header and data as received
};

class DriverPipeServer {
public:
    // Returns the reply buffer for a request; by default the request is echoed back.
    using Responder = std::function<std::vector<uint8_t>(const DriverRequestSeen&)>;
    enum class Switch { On, Off };

    explicit DriverPipeServer(const char* name, Responder responder = nullptr, Switch pipeSwitch = Switch::On)
        : m_responder(std::move(responder)) {
        if (pipeSwitch == Switch::On) {
            m_switch = std::make_unique<DriverPipeSwitch>(name);
        }
        m_path = std::string("\\\\.\\pipe\\") + name;
        m_hPipe = CreateNamedPipeA(m_path.c_str(), PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 65536, 65536, 0,
                                   nullptr);
        m_thread = std::thread([this] { Serve(); });
    }
    ~DriverPipeServer() {
        // Wake a ConnectNamedPipe that waits, or is about to wait, by connecting ourselves
        // until the serving thread has seen the stop: an instance just disconnected takes
        // no client until it listens again, so one attempt may come too early. A client of
        // the test must be gone by now, or the read it feeds never ends.
        m_bStop = true;
        while (!m_bDone) {
            HANDLE wake = CreateFileA(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      0, nullptr);
            if (wake != INVALID_HANDLE_VALUE) {
                CloseHandle(wake);
            }
            Sleep(5);
        }
        m_thread.join();
        CloseHandle(m_hPipe);
    }
    bool Valid() const { return m_hPipe != INVALID_HANDLE_VALUE; }
    // From now on every request fails as a device call with this Win32 error (0: answered
    // again).
    void FailWith(DWORD error) { m_failWith = error; }

    std::vector<DriverRequestSeen> Requests() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    // Waits until `count` requests have arrived, at most `timeoutMs`.
    bool WaitFor(size_t count, DWORD timeoutMs = 5000) {
        for (DWORD waited = 0; waited < timeoutMs; waited += 10) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_requests.size() >= count) {
                    return true;
                }
            }
            Sleep(10);
        }
        return false;
    }

private:
    void Serve() {
        struct Done {
            std::atomic<bool>& done;
            ~Done() { done = true; }
        } done{m_bDone};
        while (!m_bStop) {
            BOOL connected = ConnectNamedPipe(m_hPipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
            if (!connected) {
                return;
            }
            std::vector<uint8_t> message(65536);
            DWORD got = 0;
            while (!m_bStop && ReadFile(m_hPipe, message.data(), (DWORD)message.size(), &got, nullptr)) {
                DriverRequestSeen seen;
                if (got >= 4) {
                    memcpy(&seen.ioctl, message.data(), 4);
                    seen.buffer.assign(message.begin() + 4, message.begin() + got);
                }
                const DWORD failure = m_failWith;
                std::vector<uint8_t> body = m_responder && !failure ? m_responder(seen) : seen.buffer;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_requests.push_back(seen);
                }
                std::vector<uint8_t> reply(4 + body.size());
                uint32_t count = (uint32_t)body.size();
                if (failure) {
                    // The device call failed: the count 0xFFFFFFFF, then the error.
                    reply.assign(8, 0);
                    count = 0xFFFFFFFF;
                    memcpy(reply.data() + 4, &failure, 4);
                    body.clear();
                }
                memcpy(reply.data(), &count, 4);
                if (!body.empty()) {
                    memcpy(reply.data() + 4, body.data(), body.size());
                }
                DWORD written = 0;
                WriteFile(m_hPipe, reply.data(), (DWORD)reply.size(), &written, nullptr);
            }
            DisconnectNamedPipe(m_hPipe);
        }
    }

    std::string m_path;
    HANDLE m_hPipe = INVALID_HANDLE_VALUE;
    Responder m_responder;
    std::unique_ptr<DriverPipeSwitch> m_switch;
    std::atomic<DWORD> m_failWith{0};
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bDone{false}; // the serving thread has returned
    std::mutex m_mutex;
    std::vector<DriverRequestSeen> m_requests;
    std::thread m_thread;
};
