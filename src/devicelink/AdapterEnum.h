// The adapter enumeration client: asks the adapter service, over "VCORE\HWENUM", how many
// adapters are attached and where each one's software settings live in the registry.
//
// A small synchronous request/response protocol, 16-byte requests and 16-byte response
// headers with optional data, with a budget of one second per request. A requester lives
// for one query sequence: open, count, keys, close. Requests on one requester are
// serialised by its lock; the waiting is a polling sleep on the caller's thread.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kEnumCmdGetAdapterCount = 1;
constexpr uint32_t kEnumCmdGetAdapterKey = 2;
constexpr uint32_t kEnumRequestSize = 16;
constexpr uint32_t kEnumResponseHeaderSize = 16;
constexpr uint32_t kEnumBudgetMs = 1000;
constexpr size_t kAdapterKeySize = 260;
// Start-up asks for the keys of at most this many adapters: indices 0 to 4, all the I/O
// manager can open. A service reporting more, or an absurd count, cannot hold start-up.
constexpr uint32_t kEnumMaxAdaptersAsked = 5;

#pragma pack(push, 1)
struct EnumRequest {
    uint32_t size; // always 16
    uint32_t command;
    uint32_t adapterIndex;
    uint32_t capacity;
};
struct EnumResponseHeader {
    uint32_t size; // header included
    uint32_t reserved;
    uint32_t status; // 0 success
    uint32_t result; // adapter count, or the length the key needs
};
#pragma pack(pop)

struct AdapterEnumerator;

// Null when the service's pipe is absent or any step fails.
AdapterEnumerator* OpenEnumerator();
uint32_t AdapterCount(const AdapterEnumerator* enumerator);
// Copies the key of adapter `index` (NUL-terminated, never more than `capacity` bytes).
bool GetAdapterKey(AdapterEnumerator* enumerator, uint32_t index, char* buffer, size_t capacity);
void CloseEnumerator(AdapterEnumerator* enumerator);

// What start-up does: the key of every adapter (up to kEnumMaxAdaptersAsked), keeping the
// last one obtained; an empty string with no service or no adapter. Each key is traced.
void FindAdapterRegistryRoot(char* buffer, size_t capacity);
