// DriverChannel: one DeviceIoControl channel to a named kernel device ("\\.\NAME").
//
// A request is a single buffer used for input and output: a 32-byte header followed
// by the data. Where the device itself does not exist (no driver on this machine), the
// channel may carry the very same request over the message-mode pipe "\\.\pipe\NAME":
//   request  = 4-byte control code, then the buffer;
//   reply    = 4-byte count of bytes returned, then the buffer; or, where the device
//              call failed, the count 0xFFFFFFFF and the 4-byte Win32 error it failed
//              with (what DeviceIoControl would have reported).
// A reply longer than the buffer can never come from a device (DeviceIoControl returns
// at most the output buffer): it fails the request, and its rest is read off the pipe
// so that the next request gets its own reply.
//
// The pipe is a stand-in for tests, never for an installation: any local process can
// serve a pipe of that name and would feed the agent whatever it likes. It is tried only
// for a device whose name is a nonzero REG_DWORD value under
// HKEY_LOCAL_MACHINE\SOFTWARE\OrvinTest\DriverPipes (only an administrator can write
// there, and no installation does), and it is opened with identification-level quality
// of service, so that its server can not act as the agent's user.
//
// Not thread-safe: a channel is used by one thread at a time, or under its owner's lock.
#pragma once

#include <windows.h>

#include <cstdint>

namespace orvin {

#pragma pack(push, 1)
struct DriverRequestHeader {
    uint32_t command;
    uint32_t length;   // data bytes; on return, the bytes of data returned
    uint32_t reserved; // always 0
    int32_t status;    // sent as -1; on return, the driver's result
    uint32_t param[4];
};
#pragma pack(pop)
static_assert(sizeof(DriverRequestHeader) == 32);

class DriverChannel {
public:
    static constexpr DWORD kIoctlCode = 0x222000;
    static constexpr int32_t kNotOpened = -1;

    DriverChannel() = default;
    explicit DriverChannel(const char* name) { SetName(name); }
    virtual ~DriverChannel() { Close(); }
    DriverChannel(const DriverChannel&) = delete;
    DriverChannel& operator=(const DriverChannel&) = delete;

    // Changing the name closes the handle of the old device.
    void SetName(const char* name);
    const char* Name() const { return m_szName; }

    // The device, or where it does not exist and the switch above allows it, its pipe.
    bool Open();
    void Close();
    bool IsOpen() const { return m_hDevice != INVALID_HANDLE_VALUE; }
    // True when the open handle is the pipe stand-in rather than the device.
    bool IsPipe() const { return m_bPipe; }

    // Sends `command` with up to four parameters and `*length` data bytes from `*data`
    // (zeros when *data is null). On success the returned data are copied back: into
    // *data, at most the `*length` bytes it holds, or into a buffer allocated with
    // malloc (the caller frees it) when *data was null; *length becomes the count copied.
    // Returns the driver's status word, or kNotOpened when the device does not open.
    // A channel without an open handle opens the device for this one request only.
    int32_t Request(uint32_t command, const uint32_t* params, int paramCount, void** data, uint32_t* length);

    // How the last request went: complete when the device returned the whole buffer (the
    // data were copied back); otherwise the system's error when it failed on the way (the
    // device did not open, went away, or answered more than the buffer holds:
    // ERROR_MORE_DATA), or 0 when the device answered short or with nothing.
    bool LastRequestComplete() const { return m_bLastComplete; }
    DWORD LastTransferError() const { return m_dwLastError; }
    // The last request failed in a way that means the handle is dead and only a new open
    // can reach the device: ERROR_INVALID_HANDLE (6), ERROR_NOT_READY (21),
    // ERROR_DEV_NOT_EXIST (55), ERROR_BROKEN_PIPE (109), ERROR_NO_DATA (232, the pipe is
    // being closed), ERROR_PIPE_NOT_CONNECTED (233), ERROR_DEVICE_NOT_CONNECTED (1167) or
    // ERROR_DEVICE_REMOVED (1617). Any other failure may pass with the next request.
    bool LastRequestLostDevice() const;

    // Whether the pipe stand-in may be used for the device `name` (the registry switch).
    static bool PipeStandInAllowed(const char* name);
    static constexpr const char* kPipeSwitchKey = "SOFTWARE\\OrvinTest\\DriverPipes";
    static constexpr uint32_t kPipeErrorReply = 0xFFFFFFFF;

protected:
    // Seam for tests: every handle the channel opens comes from here (CreateFileA).
    virtual HANDLE OpenHandle(const char* path, DWORD access, DWORD share, DWORD flags);

private:
    bool Transfer(void* buffer, DWORD size, DWORD* returned);
    void DrainReply();

    char m_szName[64] = {};
    HANDLE m_hDevice = INVALID_HANDLE_VALUE;
    bool m_bPipe = false;
    bool m_bLastComplete = false;
    DWORD m_dwLastError = 0;
};

} // namespace orvin
