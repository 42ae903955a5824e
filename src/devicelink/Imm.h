// The IMM message: the fixed 620-byte record in which the agent and the adapter's service
// exchange events and requests, and its packed form on the bus and the pipe (kind 3):
// Param 0..2 = Type, Code, Info; Param 3 = presence flags; the data are the present
// parts in order, with no padding. A buffer is present when any of its bytes is non-zero.
#pragma once

#include "devicelink/iBus.h"

#include <cstdint>

#pragma pack(push, 1)
struct IMM {
    int32_t Type;
    int32_t Code;
    int32_t Info;
    char Buffer1[32];
    char Buffer2[32];
    char Buffer3[32];
    char Payload[512];
};
#pragma pack(pop)
static_assert(sizeof(IMM) == 620);

enum : uint32_t {
    kImmHasBuffer1 = 0x01,
    kImmHasBuffer2 = 0x02,
    kImmHasBuffer3 = 0x04,
    kImmHasPayload = 0x08,
    kImmHasExtra = 0x10,
};

// Bus message kinds on the I/O manager's pipe.
enum : uint32_t {
    VCORE_IBUS_ID_ADAPTOR_INFO = 1,
    VCORE_IBUS_ID_GENERIC_MESSAGE = 2,
    VCORE_IBUS_ID_IMM_MESSAGE = 3,
};

constexpr uint32_t kImmMaxPackedData = 32 * 3 + 512 + 4;

// The data bytes that `flags` announce.
uint32_t ImmPackedDataLength(uint32_t flags);

// A new record (reference count 1) holding `message` packed; `extra` (or null) is
// appended and flagged. Null on failure.
iBusMessageRecord* iBusInterMessageConvertIMMToBus(iBus* bus, uint32_t id, uint32_t kind,
                                                   const uint32_t* extra, const IMM* message);
// Unpacks a kind-3 message. 1 on success; 0 for a missing argument or data shorter than
// the presence flags announce (then `message` is left cleared).
int iBusInterMessageConvertBusToIMM(const iBusMessage* content, IMM* message, uint32_t* extra);
