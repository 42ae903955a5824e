#include "devicelink/Imm.h"

#include "base/trace/Trace.h"

#include <cstring>

namespace {

struct Part {
    uint32_t flag;
    size_t offset;
    uint32_t size;
};

const Part kParts[] = {
    {kImmHasBuffer1, offsetof(IMM, Buffer1), 32},
    {kImmHasBuffer2, offsetof(IMM, Buffer2), 32},
    {kImmHasBuffer3, offsetof(IMM, Buffer3), 32},
    {kImmHasPayload, offsetof(IMM, Payload), 512},
};

bool AnyNonZero(const char* bytes, uint32_t size) {
    for (uint32_t i = 0; i < size; ++i) {
        if (bytes[i]) {
            return true;
        }
    }
    return false;
}

} // namespace

uint32_t ImmPackedDataLength(uint32_t flags) {
    uint32_t length = 0;
    for (const Part& part : kParts) {
        if (flags & part.flag) {
            length += part.size;
        }
    }
    return length + ((flags & kImmHasExtra) ? 4 : 0);
}

iBusMessageRecord* iBusInterMessageConvertIMMToBus(iBus* bus, uint32_t id, uint32_t kind,
                                                   const uint32_t* extra, const IMM* message) {
    if (!bus || !message) {
        return nullptr;
    }
    uint8_t data[kImmMaxPackedData];
    uint32_t flags = 0, length = 0;
    const char* base = reinterpret_cast<const char*>(message);
    for (const Part& part : kParts) {
        if (AnyNonZero(base + part.offset, part.size)) {
            memcpy(data + length, base + part.offset, part.size);
            length += part.size;
            flags |= part.flag;
        }
    }
    if (extra) {
        memcpy(data + length, extra, 4);
        length += 4;
        flags |= kImmHasExtra;
    }
    if (length) {
        TRACE("NOTE: ConvertIMMToBus: IMM (%d bytes) => iBus (%d + %d = %d bytes)", (int)sizeof(IMM),
              (int)kBusHeaderSize, (int)length, (int)(kBusHeaderSize + length));
    } else {
        TRACE_LEVEL(2, "iBusInterMessageConvertIMMToBus: IMM (%d bytes) => iBus with no Data (%d)",
                    (int)sizeof(IMM), (int)kBusHeaderSize);
    }
    const uint32_t params[4] = {(uint32_t)message->Type, (uint32_t)message->Code, (uint32_t)message->Info,
                                flags};
    return iBusCreateMessage(bus, id, kind, params, 4, length ? data : nullptr, length);
}

int iBusInterMessageConvertBusToIMM(const iBusMessage* content, IMM* message, uint32_t* extra) {
    if (!content || !message) {
        return 0;
    }
    memset(message, 0, sizeof *message);
    message->Type = (int32_t)content->Param[0];
    message->Code = (int32_t)content->Param[1];
    message->Info = (int32_t)content->Param[2];
    if (content->Size <= kBusHeaderSize) {
        return 1;
    }
    const uint32_t flags = content->Param[3];
    const uint32_t have = content->Size - kBusHeaderSize;
    const uint32_t need = ImmPackedDataLength(flags);
    if (have < need) {
        // Reading on would run past the message.
        TRACE("IOMAN: WARNING: IMM data too short (%u bytes, flags 0x%x need %u)", have, flags, need);
        memset(message, 0, sizeof *message);
        return 0;
    }
    const uint8_t* data = iBusMessageData(content);
    char* base = reinterpret_cast<char*>(message);
    for (const Part& part : kParts) {
        if (flags & part.flag) {
            memcpy(base + part.offset, data, part.size);
            data += part.size;
        }
    }
    if ((flags & kImmHasExtra) && extra) {
        memcpy(extra, data, 4);
    }
    return 1;
}
