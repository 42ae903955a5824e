#include "LibraryLink_win.h"

#include <chrono>

namespace orvin::teltelsim {

namespace {

constexpr DWORD kPipeBufferBytes = 65536;

// Waits for an overlapped operation or the stop event; false when stopped or failed.
bool Complete(HANDLE pipe, OVERLAPPED* overlapped, HANDLE stop, DWORD* bytes) {
    HANDLE waits[2] = {overlapped->hEvent, stop};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIoEx(pipe, overlapped);
        GetOverlappedResult(pipe, overlapped, bytes, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, overlapped, bytes, FALSE) != 0;
}

} // namespace

LibraryLink::LibraryLink(sim::SimLog& log, bool lenient, const std::string& pipeName)
    : m_log(log), m_bLenient(lenient), m_PipePath("\\\\.\\pipe\\" + pipeName) {
    m_nFrequency = log.Frequency();
}

LibraryLink::~LibraryLink() {
    Stop();
}

bool LibraryLink::Start(std::string* error, bool* busy) {
    *busy = false;
    m_hPipe = CreateNamedPipeA(
        m_PipePath.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, kPipeBufferBytes, kPipeBufferBytes, 0, nullptr);
    if (m_hPipe == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        *busy = code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY;
        *error = m_PipePath + " can not be served (error " + std::to_string(code) + ")" +
                 (*busy ? ": another TelTel stand-in serves it" : "");
        return false;
    }
    m_hStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_thread = std::thread([this] { Serve(); });
    m_log.Line("serving %s", m_PipePath.c_str());
    return true;
}

void LibraryLink::Stop() {
    if (m_hStop) {
        SetEvent(m_hStop);
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_hPipe != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hPipe);
        m_hPipe = INVALID_HANDLE_VALUE;
    }
    if (m_hStop) {
        CloseHandle(m_hStop);
        m_hStop = nullptr;
    }
}

void LibraryLink::Serve() {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (;;) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event;
        ResetEvent(event);
        DWORD bytes = 0;
        if (!ConnectNamedPipe(m_hPipe, &overlapped)) {
            const DWORD code = GetLastError();
            if (code == ERROR_IO_PENDING) {
                if (!Complete(m_hPipe, &overlapped, m_hStop, &bytes)) {
                    break;
                }
            } else if (code != ERROR_PIPE_CONNECTED) {
                m_log.Error("%s: a library could not connect (error %lu)", m_PipePath.c_str(), code);
                if (WaitForSingleObject(m_hStop, 200) == WAIT_OBJECT_0) {
                    break;
                }
                DisconnectNamedPipe(m_hPipe);
                continue;
            }
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bConnected = true;
            ++m_nConnections;
            m_Calls.clear(); // the calls of a library that has gone
            m_Checker.Reset();
        }
        m_changed.notify_all();
        // What the script has set so far.
        std::vector<std::string> state;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ControlLine ready;
            ready.kind = ControlLine::Kind::Ready;
            ready.value = m_nReady;
            state.push_back(FormatControl(ready));
            for (const auto& [function, value] : m_Results) {
                ControlLine result;
                result.kind = ControlLine::Kind::Result;
                result.function = function;
                result.value = value;
                state.push_back(FormatControl(result));
            }
        }
        for (const std::string& line : state) {
            Write(line);
        }

        uint32_t pid = 0;
        std::string pending;
        char buffer[4096];
        bool stopped = false;
        for (;;) {
            ResetEvent(event);
            overlapped = {};
            overlapped.hEvent = event;
            bytes = 0;
            if (!ReadFile(m_hPipe, buffer, sizeof buffer, &bytes, &overlapped)) {
                if (GetLastError() != ERROR_IO_PENDING) {
                    break;
                }
                if (!Complete(m_hPipe, &overlapped, m_hStop, &bytes)) {
                    stopped = WaitForSingleObject(m_hStop, 0) == WAIT_OBJECT_0;
                    break;
                }
            }
            pending.append(buffer, bytes);
            size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                Handle(line, &pid);
            }
            if (pending.size() > kMaxLineBytes) {
                std::lock_guard<std::mutex> lock(m_mutex);
                Fault("the library sent a line of more than " + std::to_string(kMaxLineBytes) + " bytes");
                break;
            }
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bConnected = false;
            for (auto& [id, request] : m_Requests) {
                request->done = true;
                request->reason = "the library went away";
            }
        }
        m_changed.notify_all();
        if (stopped) {
            m_log.Line("no longer serving: the library of process %u was still connected", pid);
        } else {
            m_log.Line("library gone (process %u)", pid);
        }
        DisconnectNamedPipe(m_hPipe);
        if (stopped) {
            break;
        }
    }
    CloseHandle(event);
}

void LibraryLink::Handle(const std::string& text, uint32_t* pid) {
    LibraryLine line;
    std::string error;
    if (!ParseLibraryLine(text, &line, &error)) {
        m_log.Error("a line from the library that is not understood (%s): %s", error.c_str(), text.c_str());
        return;
    }
    switch (line.kind) {
    case LibraryLine::Kind::Hello: {
        *pid = line.hello.pid;
        std::string lacking;
        for (const char* function : kTelTelFunctions) {
            bool found = false;
            for (const std::string& name : line.hello.functions) {
                found = found || name == function;
            }
            if (!found) {
                lacking += (lacking.empty() ? "" : ", ") + std::string(function);
            }
        }
        m_log.Line("library connected: process %u, %s, %u functions%s%s", line.hello.pid,
                   line.hello.module.c_str(), (unsigned)line.hello.functions.size(),
                   lacking.empty() ? "" : "; lacking ", lacking.c_str());
        break;
    }
    case LibraryLine::Kind::Call: {
        m_log.LineAt(line.call.qpc, "RX %s", line.call.Shown().c_str());
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (const std::string& fault : m_Checker.OnCall(line.call)) {
                Fault(fault);
            }
            m_Calls.push_back(line.call);
        }
        m_changed.notify_all();
        break;
    }
    case LibraryLine::Kind::Fired:
    case LibraryLine::Kind::Unfired:
    case LibraryLine::Kind::Posted: {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_Requests.find(line.fired.id);
        if (it == m_Requests.end()) {
            m_log.Line("an answer to no request of ours (id %u): %s", line.fired.id, text.c_str());
            break;
        }
        Request& request = *it->second;
        request.done = true;
        if (line.kind == LibraryLine::Kind::Fired) {
            request.ok = true;
            const double ms =
                (double)(line.fired.qpcEnd - line.fired.qpcStart) * 1000.0 / (double)m_nFrequency;
            m_log.LineAt(line.fired.qpcStart,
                         "TX %s(%lld) on the library's %s thread %u, returned after %.3f ms",
                         CallbackEventName(request.event), (long long)request.value,
                         request.newThread ? "new" : "reader", line.fired.thread, ms);
            for (const std::string& fault : m_Checker.OnFired(request.event, line.fired, m_nFrequency)) {
                Fault(fault);
            }
        } else if (line.kind == LibraryLine::Kind::Unfired) {
            request.reason = line.reason;
        } else {
            request.ok = line.posted;
            request.reason = "the library could not post it to the registered window";
        }
        m_changed.notify_all();
        break;
    }
    }
}

void LibraryLink::Fault(const std::string& fault) {
    if (m_bLenient) {
        m_log.Warning("%s", fault.c_str());
        ++m_nWarnings;
    } else {
        m_log.Error("%s", fault.c_str());
        m_Violations.push_back(fault);
    }
}

bool LibraryLink::Write(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_writeMutex);
    const std::string data = line + "\n";
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    bool ok = WriteFile(m_hPipe, data.data(), (DWORD)data.size(), &written, &overlapped) != 0;
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, kAnswerMs) != WAIT_OBJECT_0) {
            CancelIoEx(m_hPipe, &overlapped);
        }
        ok = GetOverlappedResult(m_hPipe, &overlapped, &written, TRUE) != 0;
    }
    CloseHandle(overlapped.hEvent);
    return ok && written == data.size();
}

void LibraryLink::SetReady(int64_t value) {
    bool connected;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nReady = value;
        connected = m_bConnected;
    }
    m_log.Line("TX ready %lld", (long long)value);
    if (connected) {
        ControlLine line;
        line.kind = ControlLine::Kind::Ready;
        line.value = value;
        Write(FormatControl(line));
    }
}

void LibraryLink::SetResult(const std::string& function, int64_t value) {
    bool connected;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_Results[function] = value;
        connected = m_bConnected;
    }
    m_log.Line("TX result %s %lld", function.c_str(), (long long)value);
    if (connected) {
        ControlLine line;
        line.kind = ControlLine::Kind::Result;
        line.function = function;
        line.value = value;
        Write(FormatControl(line));
    }
}

bool LibraryLink::Ask(const ControlLine& asked, Request* request, std::string* failure) {
    ControlLine line = asked;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bConnected) {
            *failure = "no library is connected";
            return false;
        }
        line.id = m_nNextId++;
        m_Requests[line.id] = request;
    }
    bool answered = false;
    if (Write(FormatControl(line))) {
        std::unique_lock<std::mutex> lock(m_mutex);
        answered =
            m_changed.wait_for(lock, std::chrono::milliseconds(kAnswerMs), [&] { return request->done; });
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_Requests.erase(line.id);
    if (!answered) {
        *failure = "the library did not answer within " + std::to_string(kAnswerMs) + " ms";
        return false;
    }
    if (!request->ok) {
        *failure = request->reason;
        return false;
    }
    return true;
}

bool LibraryLink::Fire(CallbackEvent event, int64_t value, bool newThread, std::string* failure) {
    ControlLine line;
    line.kind = ControlLine::Kind::Fire;
    line.event = event;
    line.value = value;
    line.newThread = newThread;
    Request request;
    request.event = event;
    request.value = value;
    request.newThread = newThread;
    if (!Ask(line, &request, failure)) {
        *failure = std::string(CallbackEventName(event)) + ": " + *failure;
        return false;
    }
    return true;
}

bool LibraryLink::Post(uint32_t message, uint64_t wParam, uint64_t lParam, std::string* failure) {
    ControlLine line;
    line.kind = ControlLine::Kind::Post;
    line.message = message;
    line.wParam = wParam;
    line.lParam = lParam;
    Request request;
    if (!Ask(line, &request, failure)) {
        return false;
    }
    m_log.Line("TX post 0x%x wparam=0x%llx lparam=0x%llx", message, (unsigned long long)wParam,
               (unsigned long long)lParam);
    return true;
}

bool LibraryLink::NextCall(DWORD timeoutMs, CallRecord* call) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !m_Calls.empty(); })) {
        return false;
    }
    *call = m_Calls.front();
    m_Calls.pop_front();
    return true;
}

bool LibraryLink::WaitConnection(uint64_t seen, DWORD timeoutMs, uint64_t* count) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool ok =
        m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_nConnections > seen; });
    *count = m_nConnections;
    return ok;
}

bool LibraryLink::WaitGone(DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !m_bConnected; });
}

bool LibraryLink::TakeViolation(std::string* violation) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_Violations.empty()) {
        return false;
    }
    *violation = m_Violations.front();
    if (m_Violations.size() > 1) {
        *violation += " (and " + std::to_string(m_Violations.size() - 1) + " more)";
    }
    m_Violations.clear();
    return true;
}

} // namespace orvin::teltelsim
