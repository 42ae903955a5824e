// The server end of a byte-mode named pipe that feeds fuzzed bytes to the agent's pipe
// client. Every operation has a time-out: a fuzzed stream may make the client stop reading
// on purpose (a broken stream), and a server that waited for it forever would hang the
// test instead of failing it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class FuzzPipeServer {
public:
    // `name` as after "\\.\pipe\", e.g. "VCORE\HWENUM".
    explicit FuzzPipeServer(const std::string& name) : m_path("\\\\.\\pipe\\" + name) {
        m_hIoEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_hAcceptEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        // One instance; the default wait of 50 ms is what a client's check for a free
        // instance waits at most.
        m_hPipe =
            CreateNamedPipeA(m_path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 50, nullptr);
    }
    ~FuzzPipeServer() {
        if (m_hPipe != INVALID_HANDLE_VALUE) {
            if (m_acceptPending) {
                CancelIoEx(m_hPipe, &m_acceptOv);
                DWORD ignored;
                GetOverlappedResult(m_hPipe, &m_acceptOv, &ignored, TRUE);
            }
            DisconnectNamedPipe(m_hPipe);
            CloseHandle(m_hPipe);
        }
        CloseHandle(m_hIoEvent);
        CloseHandle(m_hAcceptEvent);
    }
    FuzzPipeServer(const FuzzPipeServer&) = delete;
    FuzzPipeServer& operator=(const FuzzPipeServer&) = delete;

    bool Listening() const { return m_hPipe != INVALID_HANDLE_VALUE; }

    // Starts taking a client without waiting for one: the pipe name accepts a connection
    // from here on. False when the pipe cannot listen.
    bool BeginAccept() {
        if (!Listening()) {
            return false;
        }
        if (m_acceptPending || m_connected) {
            return true;
        }
        m_acceptOv = {};
        m_acceptOv.hEvent = m_hAcceptEvent;
        ResetEvent(m_hAcceptEvent);
        if (ConnectNamedPipe(m_hPipe, &m_acceptOv)) {
            m_connected = true;
            return true;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED) {
            m_connected = true;
            return true;
        }
        if (error == ERROR_NO_DATA) {
            // A client came and went already: take the next one.
            DisconnectNamedPipe(m_hPipe);
            return BeginAccept();
        }
        m_acceptPending = error == ERROR_IO_PENDING;
        return m_acceptPending;
    }
    // Waits for the client that BeginAccept made room for.
    bool FinishAccept(DWORD timeoutMs) {
        if (m_connected) {
            return true;
        }
        if (!m_acceptPending || WaitForSingleObject(m_hAcceptEvent, timeoutMs) != WAIT_OBJECT_0) {
            return false;
        }
        DWORD ignored;
        m_acceptPending = false;
        m_connected = GetOverlappedResult(m_hPipe, &m_acceptOv, &ignored, FALSE) != FALSE;
        return m_connected;
    }
    bool Accept(DWORD timeoutMs) { return BeginAccept() && FinishAccept(timeoutMs); }
    bool Connected() const { return m_connected; }

    // Writes all bytes. False when the pipe broke or the client left them untaken for
    // `timeoutMs`; what was not taken by then is cancelled.
    bool Write(const void* data, size_t length, DWORD timeoutMs) {
        if (!m_connected || !length) {
            return m_connected;
        }
        return Transfer(data, length, timeoutMs);
    }
    bool Write(const std::vector<uint8_t>& bytes, DWORD timeoutMs) {
        return Write(bytes.data(), bytes.size(), timeoutMs);
    }

    // Exactly `count` bytes, or fewer when the time runs out or the pipe breaks.
    std::vector<uint8_t> Read(size_t count, DWORD timeoutMs) {
        std::vector<uint8_t> bytes;
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (m_connected && bytes.size() < count) {
            DWORD available = 0;
            if (!PeekNamedPipe(m_hPipe, nullptr, 0, nullptr, &available, nullptr)) {
                break;
            }
            if (!available) {
                if (GetTickCount64() >= deadline) {
                    break;
                }
                Sleep(1);
                continue;
            }
            const size_t wanted = available < count - bytes.size() ? available : count - bytes.size();
            const size_t at = bytes.size();
            bytes.resize(at + wanted);
            OVERLAPPED ov = {};
            ov.hEvent = m_hIoEvent;
            ResetEvent(m_hIoEvent);
            DWORD got = 0;
            if ((!ReadFile(m_hPipe, bytes.data() + at, (DWORD)wanted, nullptr, &ov) &&
                 GetLastError() != ERROR_IO_PENDING) ||
                !GetOverlappedResult(m_hPipe, &ov, &got, TRUE)) {
                bytes.resize(at);
                break;
            }
            bytes.resize(at + got);
        }
        return bytes;
    }

    // True while the client keeps its end open. A pipe whose client has gone may still
    // peek fine; a write of no bytes tells.
    bool ClientPresent() {
        DWORD available = 0;
        return m_connected && PeekNamedPipe(m_hPipe, nullptr, 0, nullptr, &available, nullptr) &&
               Transfer("", 0, 100);
    }

    // Drops the client at once, discarding whatever it has not read yet.
    void Drop() {
        if (m_connected) {
            DisconnectNamedPipe(m_hPipe);
            m_connected = false;
        }
    }

private:
    // One overlapped write, waited for at most `timeoutMs`, cancelled after that.
    bool Transfer(const void* data, size_t length, DWORD timeoutMs) {
        OVERLAPPED ov = {};
        ov.hEvent = m_hIoEvent;
        ResetEvent(m_hIoEvent);
        if (!WriteFile(m_hPipe, data, (DWORD)length, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING) {
            return false;
        }
        DWORD written = 0;
        if (WaitForSingleObject(m_hIoEvent, timeoutMs) != WAIT_OBJECT_0) {
            CancelIoEx(m_hPipe, &ov);
            GetOverlappedResult(m_hPipe, &ov, &written, TRUE);
            return false;
        }
        return GetOverlappedResult(m_hPipe, &ov, &written, FALSE) && written == length;
    }

    std::string m_path;
    HANDLE m_hPipe = INVALID_HANDLE_VALUE;
    HANDLE m_hIoEvent = nullptr;
    HANDLE m_hAcceptEvent = nullptr;
    OVERLAPPED m_acceptOv = {};
    bool m_acceptPending = false;
    bool m_connected = false;
};
