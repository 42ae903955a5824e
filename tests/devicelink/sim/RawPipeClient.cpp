// RawPipeClient.exe: a client of the adapter service's pipes that writes exactly the
// bytes it is given, for tests that show what the stand-in does with bytes the agent
// must never send. Each argument is one command, run in order:
//   connect [NAME]        open \\.\pipe\NAME (default VCORE\IOMAN), waiting up to 20 s for it
//   write HEX             bytes as they are ("write 00000000 1c000000 e8030000"); blanks are
//                         ignored
//   sleep MS
//   wait-closed MS        read (and drop) whatever comes until the service ends the
//                         connection; fails when it is still open after MS
//   close
//   enum-count N          N enumeration clients, one after the other: each opens
//                         \\.\pipe\VCORE\HWENUM, asks for the adapter count, reads the
//                         16-byte answer and closes
// Output: one line per command on standard output. Exit status: 0 when every command did
// what it says, 1 on the first that did not (its line on standard error), 2 for bad input.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kConnectWaitMs = 20000;
constexpr DWORD kEnumAnswerMs = 5000;

class Connection {
public:
    ~Connection() { Close(); }

    bool Open(const std::string& name, DWORD waitMs, std::string* failure) {
        Close();
        const std::string full = "\\\\.\\pipe\\" + name;
        const ULONGLONG deadline = GetTickCount64() + waitMs;
        for (;;) {
            m_pipe = CreateFileA(full.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
            if (m_pipe != INVALID_HANDLE_VALUE) {
                return true;
            }
            DWORD error = GetLastError();
            if (GetTickCount64() >= deadline) {
                *failure = "can not open " + full + " (error " + std::to_string(error) + ")";
                return false;
            }
            if (error == ERROR_PIPE_BUSY) {
                WaitNamedPipeA(full.c_str(), 100);
            } else {
                Sleep(20);
            }
        }
    }

    void Close() {
        if (m_pipe != INVALID_HANDLE_VALUE) {
            CloseHandle(m_pipe);
            m_pipe = INVALID_HANDLE_VALUE;
        }
    }

    bool IsOpen() const { return m_pipe != INVALID_HANDLE_VALUE; }

    bool Write(const std::vector<uint8_t>& bytes, std::string* failure) {
        size_t done = 0;
        while (done < bytes.size()) {
            DWORD moved = 0;
            if (!Transfer(false, const_cast<uint8_t*>(bytes.data()) + done, (DWORD)(bytes.size() - done),
                          5000, &moved) ||
                moved == 0) {
                *failure = "the write failed after " + std::to_string(done) + " of " +
                           std::to_string(bytes.size()) + " bytes (error " + std::to_string(GetLastError()) +
                           ")";
                return false;
            }
            done += moved;
        }
        return true;
    }

    // Reads whatever comes. False when the connection ended (or the read failed); a
    // time-out is true with nothing read.
    bool Read(uint8_t* buffer, DWORD size, DWORD timeoutMs, DWORD* got) {
        return Transfer(true, buffer, size, timeoutMs, got);
    }

private:
    bool Transfer(bool read, uint8_t* buffer, DWORD size, DWORD timeoutMs, DWORD* moved) {
        *moved = 0;
        OVERLAPPED overlapped = {};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        BOOL done = read ? ReadFile(m_pipe, buffer, size, moved, &overlapped)
                         : WriteFile(m_pipe, buffer, size, moved, &overlapped);
        bool ok = done != FALSE;
        if (!done && GetLastError() == ERROR_IO_PENDING) {
            if (WaitForSingleObject(overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
                CancelIoEx(m_pipe, &overlapped);
                // A cancel that never completes would leave the transfer owning this
                // stack: end the process rather than wait forever.
                if (WaitForSingleObject(overlapped.hEvent, 5000) != WAIT_OBJECT_0) {
                    fprintf(stderr, "RawPipeClient: a cancelled %s did not end within 5 s\n",
                            read ? "read" : "write");
                    fflush(stderr);
                    ExitProcess(3);
                }
            }
            ok = GetOverlappedResult(m_pipe, &overlapped, moved, TRUE) != FALSE ||
                 GetLastError() == ERROR_OPERATION_ABORTED;
        }
        CloseHandle(overlapped.hEvent);
        return ok;
    }

    HANDLE m_pipe = INVALID_HANDLE_VALUE;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>* bytes) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            continue;
        }
        if (HexDigit(c) < 0) {
            return false;
        }
        digits += c;
    }
    if (digits.empty() || digits.size() % 2) {
        return false;
    }
    for (size_t i = 0; i < digits.size(); i += 2) {
        bytes->push_back((uint8_t)(HexDigit(digits[i]) * 16 + HexDigit(digits[i + 1])));
    }
    return true;
}

bool ParseCount(const std::string& text, long* value) {
    char* end = nullptr;
    *value = strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && *value >= 0;
}

// One enumeration client asking for the count: the answer's header, or a failure.
bool AskCount(std::string* failure) {
    Connection connection;
    if (!connection.Open("VCORE\\HWENUM", kConnectWaitMs, failure)) {
        return false;
    }
    const uint32_t request[4] = {16, 1, 0, 0};
    if (!connection.Write(std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(request),
                                               reinterpret_cast<const uint8_t*>(request) + sizeof request),
                          failure)) {
        return false;
    }
    uint8_t answer[16];
    DWORD have = 0;
    while (have < sizeof answer) {
        DWORD got = 0;
        if (!connection.Read(answer + have, sizeof answer - have, kEnumAnswerMs, &got) || got == 0) {
            *failure = "no 16-byte answer to the count request (" + std::to_string(have) + " bytes came)";
            return false;
        }
        have += got;
    }
    return true;
}

bool Run(Connection& connection, const std::string& command, std::string* failure) {
    const size_t blank = command.find(' ');
    const std::string verb = command.substr(0, blank);
    const std::string rest = blank == std::string::npos ? "" : command.substr(blank + 1);
    long number = 0;
    if (verb == "connect") {
        if (!connection.Open(rest.empty() ? "VCORE\\IOMAN" : rest, kConnectWaitMs, failure)) {
            return false;
        }
        printf("connected\n");
    } else if (verb == "write") {
        std::vector<uint8_t> bytes;
        if (!ParseHex(rest, &bytes)) {
            *failure = "bad hex";
            return false;
        }
        if (!connection.IsOpen()) {
            *failure = "not connected";
            return false;
        }
        if (!connection.Write(bytes, failure)) {
            return false;
        }
        printf("wrote %u bytes\n", (unsigned)bytes.size());
    } else if (verb == "sleep" && ParseCount(rest, &number)) {
        Sleep((DWORD)number);
    } else if (verb == "wait-closed" && ParseCount(rest, &number)) {
        if (!connection.IsOpen()) {
            *failure = "not connected";
            return false;
        }
        const ULONGLONG started = GetTickCount64(), deadline = started + (ULONGLONG)number;
        for (;;) {
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) {
                *failure = "the service kept the connection for " + std::to_string(number) + " ms";
                return false;
            }
            uint8_t buffer[256];
            DWORD got = 0;
            if (!connection.Read(buffer, sizeof buffer, (DWORD)(deadline - now), &got)) {
                break;
            }
        }
        printf("closed by the service after %llu ms\n", (unsigned long long)(GetTickCount64() - started));
        connection.Close();
    } else if (verb == "close" && rest.empty()) {
        connection.Close();
        printf("closed\n");
    } else if (verb == "enum-count" && ParseCount(rest, &number)) {
        for (long i = 0; i < number; ++i) {
            if (!AskCount(failure)) {
                *failure = "enumeration client " + std::to_string(i + 1) + ": " + *failure;
                return false;
            }
        }
        printf("enum-count: asked=%ld answered=%ld\n", number, number);
    } else {
        *failure = "unknown command";
        return false;
    }
    fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: RawPipeClient.exe COMMAND... (connect [NAME], write HEX, sleep MS, "
                        "wait-closed MS, close, enum-count N)\n");
        return 2;
    }
    Connection connection;
    for (int i = 1; i < argc; ++i) {
        std::string failure;
        if (!Run(connection, argv[i], &failure)) {
            fprintf(stderr, "RawPipeClient: %s: %s\n", argv[i], failure.c_str());
            return failure == "unknown command" || failure == "bad hex" ? 2 : 1;
        }
    }
    return 0;
}
