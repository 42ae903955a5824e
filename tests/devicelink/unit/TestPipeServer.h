// An in-process server end of a byte-mode named pipe, for driving the agent's pipe client
// from a test: accept, read exactly N bytes, write, break. Every wait has a time-out.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class TestPipeServer {
public:
    // `name` as after "\\.\pipe\", e.g. "VCORE\IOMAN".
    explicit TestPipeServer(const std::string& name) : m_path("\\\\.\\pipe\\" + name) { Listen(); }
    ~TestPipeServer() { Close(); }

    bool Listening() const { return m_hPipe != INVALID_HANDLE_VALUE; }

    // Waits for a client to connect.
    bool Accept(DWORD timeoutMs = 5000) {
        if (!Listening()) {
            return false;
        }
        OVERLAPPED ov = {};
        ov.hEvent = m_hEvent;
        ResetEvent(m_hEvent);
        if (ConnectNamedPipe(m_hPipe, &ov)) {
            return true;
        }
        DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED) {
            return true;
        }
        if (error != ERROR_IO_PENDING) {
            return false;
        }
        if (WaitForSingleObject(m_hEvent, timeoutMs) != WAIT_OBJECT_0) {
            CancelIo(m_hPipe);
            DWORD ignored;
            GetOverlappedResult(m_hPipe, &ov, &ignored, TRUE);
            return false;
        }
        DWORD ignored;
        return GetOverlappedResult(m_hPipe, &ov, &ignored, FALSE) != FALSE;
    }

    // Reads exactly `count` bytes, or fewer when the time runs out or the pipe breaks.
    std::vector<uint8_t> Read(size_t count, DWORD timeoutMs = 5000) {
        std::vector<uint8_t> bytes;
        const DWORD deadline = GetTickCount() + timeoutMs;
        while (bytes.size() < count) {
            DWORD available = 0;
            if (!PeekNamedPipe(m_hPipe, nullptr, 0, nullptr, &available, nullptr)) {
                break;
            }
            if (!available) {
                if ((LONG)(GetTickCount() - deadline) >= 0) {
                    break;
                }
                Sleep(2);
                continue;
            }
            std::vector<uint8_t> chunk(available < count - bytes.size() ? available : count - bytes.size());
            DWORD got = 0;
            OVERLAPPED ov = {};
            ov.hEvent = m_hEvent;
            if (!ReadFile(m_hPipe, chunk.data(), (DWORD)chunk.size(), nullptr, &ov) &&
                GetLastError() != ERROR_IO_PENDING) {
                break;
            }
            if (!GetOverlappedResult(m_hPipe, &ov, &got, TRUE)) {
                break;
            }
            bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
        }
        return bytes;
    }

    // True when nothing arrives within `ms`.
    bool Quiet(DWORD ms) {
        Sleep(ms);
        DWORD available = 0;
        return PeekNamedPipe(m_hPipe, nullptr, 0, nullptr, &available, nullptr) && available == 0;
    }

    bool Write(const void* data, size_t length) {
        OVERLAPPED ov = {};
        ov.hEvent = m_hEvent;
        DWORD written = 0;
        if (!WriteFile(m_hPipe, data, (DWORD)length, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING) {
            return false;
        }
        return GetOverlappedResult(m_hPipe, &ov, &written, TRUE) && written == length;
    }
    bool Write(const std::vector<uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }

    // Breaks the connection; the server listens again for the next client.
    void Break() {
        FlushFileBuffers(m_hPipe);
        DisconnectNamedPipe(m_hPipe);
    }
    // Stops serving: the pipe name disappears.
    void Close() {
        if (m_hPipe != INVALID_HANDLE_VALUE) {
            DisconnectNamedPipe(m_hPipe);
            CloseHandle(m_hPipe);
            m_hPipe = INVALID_HANDLE_VALUE;
        }
        if (m_hEvent) {
            CloseHandle(m_hEvent);
            m_hEvent = nullptr;
        }
    }
    void Listen() {
        Close();
        m_hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_hPipe =
            CreateNamedPipeA(m_path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 50, nullptr);
    }

private:
    std::string m_path;
    HANDLE m_hPipe = INVALID_HANDLE_VALUE;
    HANDLE m_hEvent = nullptr;
};

// Waits up to `timeoutMs` for `condition` to hold.
template <typename Condition> bool WaitUntil(Condition condition, DWORD timeoutMs = 5000) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= timeoutMs) {
            return false;
        }
        Sleep(5);
    }
    return true;
}
