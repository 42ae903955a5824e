#include "ProcessResources_win.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cstddef>
#include <mutex>
#include <vector>

namespace orvin::sim {

namespace {

// NtQuerySystemInformation's extended handle table (class 64): a count, then one entry
// per handle of the system.
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kStatusInfoLengthMismatch = (LONG)0xC0000004;

struct HandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handleValue;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG handleAttributes;
    ULONG reserved;
};

struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

bool CountHandles(unsigned* handles) {
    auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) {
        return false;
    }
    std::vector<unsigned char> buffer(256 * 1024);
    LONG status;
    for (;;) {
        ULONG needed = 0;
        status = query(kSystemExtendedHandleInformation, buffer.data(), (ULONG)buffer.size(), &needed);
        if (status != kStatusInfoLengthMismatch || buffer.size() >= 64u * 1024 * 1024) {
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) {
        return false;
    }
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const size_t room = (buffer.size() - offsetof(HandleTable, entries)) / sizeof(HandleEntry);
    const ULONG_PTR self = GetCurrentProcessId();
    unsigned count = 0;
    for (ULONG_PTR i = 0; i < table->count && i < room; ++i) {
        if (table->entries[i].processId == self) {
            ++count;
        }
    }
    *handles = count;
    return true;
}

bool CountThreads(unsigned* threads) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return false;
    }
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    const DWORD self = GetCurrentProcessId();
    unsigned count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self) {
            ++count;
        }
    }
    CloseHandle(snapshot);
    *threads = count;
    return true;
}

} // namespace

bool CountProcessResources(ProcessResources* resources) {
    // One count at a time: clients that end together would otherwise snapshot the whole
    // system's threads and handles at once, and under Wine such concurrent snapshots were
    // seen to stall the process.
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    return CountThreads(&resources->threads) && CountHandles(&resources->handles);
}

} // namespace orvin::sim
