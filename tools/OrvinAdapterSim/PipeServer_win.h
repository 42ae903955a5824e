// Server-end pipe I/O for the stand-in's endpoints: overlapped operations on a pipe
// instance, waited for in short slices so that the caller's stop condition (end of run,
// a scripted break, a stopped service) can cut any of them short.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvin::sim {

enum class IoResult {
    Done,      // completed; the count says how much
    Failed,    // the pipe broke or the system refused
    Cancelled, // the stop condition came true; the operation was cancelled
    TimedOut,
};

using StopCondition = std::function<bool()>;

// "\\.\pipe\" + name.
std::wstring FullPipeName(const char* name);

// A byte-mode, overlapped, duplex instance. With `first`, creation fails when the pipe
// already exists (another service or stand-in serves it). INVALID_HANDLE_VALUE on failure.
HANDLE CreatePipeInstance(const std::wstring& fullName, bool first, DWORD maxInstances);

// A message-mode, overlapped, duplex instance (the recorder driver's pipe), one client at
// a time.
HANDLE CreateMessagePipeInstance(const std::wstring& fullName, DWORD bufferSize);

IoResult WaitForClient(HANDLE pipe, const StopCondition& stop);
// One whole message of a message-mode pipe, however long it is.
IoResult ReadMessage(HANDLE pipe, std::vector<uint8_t>* message, const StopCondition& stop);
IoResult ReadSome(HANDLE pipe, void* buffer, DWORD size, DWORD* got, const StopCondition& stop);
IoResult ReadExact(HANDLE pipe, void* buffer, DWORD size, const StopCondition& stop);
IoResult WriteAll(HANDLE pipe, const void* data, DWORD size, const StopCondition& stop, DWORD timeoutMs);

// Sleeps `ms` in short slices; false when the stop condition cut it short.
bool SleepUnless(DWORD ms, const StopCondition& stop);

} // namespace orvin::sim
