#include "base/trace/DriverChannel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace orvin {

namespace {
// A pipe stand-in serves one client at a time; it is free again within moments.
constexpr DWORD kPipeBusyWaitMs = 1000;
} // namespace

void DriverChannel::SetName(const char* name) {
    Close();
    snprintf(m_szName, sizeof m_szName, "%s", name ? name : "");
}

HANDLE DriverChannel::OpenHandle(const char* path, DWORD access, DWORD share, DWORD flags) {
    return CreateFileA(path, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

bool DriverChannel::PipeStandInAllowed(const char* name) {
    if (!name || !name[0]) {
        return false;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPipeSwitchKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD value = 0, size = sizeof value, type = 0;
    const bool allowed = RegQueryValueExA(key, name, nullptr, &type, (BYTE*)&value, &size) == ERROR_SUCCESS &&
                         type == REG_DWORD && size == sizeof value && value != 0;
    RegCloseKey(key);
    return allowed;
}

bool DriverChannel::Open() {
    if (IsOpen()) {
        return true;
    }
    if (!m_szName[0]) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    char path[96];
    snprintf(path, sizeof path, "\\\\.\\%s", m_szName);
    m_hDevice = OpenHandle(path, GENERIC_WRITE, FILE_SHARE_WRITE, 0);
    if (m_hDevice != INVALID_HANDLE_VALUE) {
        m_bPipe = false;
        return true;
    }
    const DWORD deviceError = GetLastError();
    if (!PipeStandInAllowed(m_szName)) {
        SetLastError(deviceError);
        return false;
    }
    // No such device here, and the tests' stand-in is allowed: the same requests over its
    // pipe. Its server may learn who we are, never act as us.
    const DWORD qos = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
    snprintf(path, sizeof path, "\\\\.\\pipe\\%s", m_szName);
    m_hDevice = OpenHandle(path, GENERIC_READ | GENERIC_WRITE, 0, qos);
    if (m_hDevice == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY &&
        WaitNamedPipeA(path, kPipeBusyWaitMs)) {
        m_hDevice = OpenHandle(path, GENERIC_READ | GENERIC_WRITE, 0, qos);
    }
    if (m_hDevice == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(m_hDevice, &mode, nullptr, nullptr)) {
        const DWORD error = GetLastError();
        CloseHandle(m_hDevice);
        m_hDevice = INVALID_HANDLE_VALUE;
        SetLastError(error);
        return false;
    }
    m_bPipe = true;
    return true;
}

bool DriverChannel::LastRequestLostDevice() const {
    if (m_bLastComplete) {
        return false;
    }
    switch (m_dwLastError) {
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return true;
    default:
        return false;
    }
}

void DriverChannel::Close() {
    if (m_hDevice != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hDevice);
        m_hDevice = INVALID_HANDLE_VALUE;
    }
    m_bPipe = false;
}

bool DriverChannel::Transfer(void* buffer, DWORD size, DWORD* returned) {
    *returned = 0;
    if (!m_bPipe) {
        if (!DeviceIoControl(m_hDevice, kIoctlCode, buffer, size, buffer, size, returned, nullptr)) {
            m_dwLastError = GetLastError();
            return false;
        }
        return true;
    }
    std::vector<uint8_t> request(sizeof(uint32_t) + size);
    std::vector<uint8_t> reply(sizeof(uint32_t) + size);
    const uint32_t code = kIoctlCode;
    memcpy(request.data(), &code, sizeof code);
    memcpy(request.data() + sizeof code, buffer, size);
    DWORD got = 0;
    if (!TransactNamedPipe(m_hDevice, request.data(), (DWORD)request.size(), reply.data(),
                           (DWORD)reply.size(), &got, nullptr)) {
        m_dwLastError = GetLastError();
        if (m_dwLastError == ERROR_MORE_DATA) {
            DrainReply();
        }
        return false;
    }
    if (got < sizeof(uint32_t)) {
        return true; // an answer without even its count: nothing returned
    }
    uint32_t count = 0;
    memcpy(&count, reply.data(), sizeof count);
    if (count == kPipeErrorReply && got == 2 * sizeof(uint32_t)) {
        // The device call failed: its error, as DeviceIoControl would have given it.
        uint32_t error = 0;
        memcpy(&error, reply.data() + sizeof count, sizeof error);
        m_dwLastError = error ? error : ERROR_GEN_FAILURE;
        return false;
    }
    // Never take more than the reply holds or the buffer can take, nor count bytes that
    // did not come.
    DWORD copied = got - (DWORD)sizeof count;
    if (copied > size) {
        copied = size;
    }
    memcpy(buffer, reply.data() + sizeof count, copied);
    *returned = count < copied ? count : copied;
    return true;
}

// The rest of a reply that did not fit: read and dropped, so that the pipe holds no
// unread data when the next request goes out.
void DriverChannel::DrainReply() {
    std::vector<uint8_t> rest(4096);
    for (;;) {
        DWORD got = 0;
        if (ReadFile(m_hDevice, rest.data(), (DWORD)rest.size(), &got, nullptr)) {
            return; // the message's last part
        }
        if (GetLastError() != ERROR_MORE_DATA) {
            return;
        }
    }
}

int32_t DriverChannel::Request(uint32_t command, const uint32_t* params, int paramCount, void** data,
                               uint32_t* length) {
    const uint32_t dataLength = length ? *length : 0;
    m_bLastComplete = false;
    m_dwLastError = 0;
    const bool openedHere = !IsOpen();
    if (openedHere && !Open()) {
        m_dwLastError = GetLastError() ? GetLastError() : ERROR_FILE_NOT_FOUND;
        return kNotOpened;
    }

    const DWORD size = (DWORD)sizeof(DriverRequestHeader) + dataLength;
    std::vector<uint8_t> buffer(size, 0);
    DriverRequestHeader header = {};
    header.command = command;
    header.length = dataLength;
    header.status = -1;
    for (int i = 0; params && i < paramCount && i < 4; ++i) {
        header.param[i] = params[i];
    }
    memcpy(buffer.data(), &header, sizeof header);
    if (dataLength && data && *data) {
        memcpy(buffer.data() + sizeof header, *data, dataLength);
    }

    DWORD returned = 0;
    const bool ok = Transfer(buffer.data(), size, &returned) && returned == size;
    if (openedHere) {
        Close();
    }
    if (!ok) {
        return header.status; // as sent: -1
    }
    m_bLastComplete = true;
    memcpy(&header, buffer.data(), sizeof header);
    if (data && length) {
        // The driver reports how much it returned; it cannot be more than we sent room for.
        uint32_t back = header.length < dataLength ? header.length : dataLength;
        if (!*data) {
            *data = malloc(back ? back : 1);
        }
        if (*data) {
            memcpy(*data, buffer.data() + sizeof header, back);
            *length = back;
        }
    }
    return header.status;
}

} // namespace orvin
