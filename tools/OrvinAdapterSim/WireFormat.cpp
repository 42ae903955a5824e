#include "WireFormat.h"

#include "devicelink/MessageCatalogue.h"

#include <cstdio>
#include <cstring>

namespace orvin::sim {

namespace {

struct Part {
    uint32_t flag;
    size_t offset;
    size_t size;
    const char* name;  // the script's word
    const char* field; // the IMM's
};

const Part kParts[] = {
    {kImmHasBuffer1, offsetof(IMM, Buffer1), sizeof(IMM::Buffer1), "buf1", "Buffer1"},
    {kImmHasBuffer2, offsetof(IMM, Buffer2), sizeof(IMM::Buffer2), "buf2", "Buffer2"},
    {kImmHasBuffer3, offsetof(IMM, Buffer3), sizeof(IMM::Buffer3), "buf3", "Buffer3"},
    {kImmHasPayload, offsetof(IMM, Payload), sizeof(IMM::Payload), "payload", "Payload"},
};

bool AnyNonZero(const char* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i]) {
            return true;
        }
    }
    return false;
}

void CopyText(char* field, size_t size, const std::optional<std::string>& text) {
    memset(field, 0, size);
    if (text) {
        memcpy(field, text->data(), text->size() < size ? text->size() : size);
    }
}

// The text matches the field when the field holds it followed by zeros only.
bool SameText(const char* field, size_t size, const std::string& text) {
    if (text.size() > size || memcmp(field, text.data(), text.size()) != 0) {
        return false;
    }
    return !AnyNonZero(field + text.size(), size - text.size());
}

std::string Hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "0x%x", value);
    return text;
}

} // namespace

std::string TypeWord(int32_t type) {
    const char* name = GetMsgTypeName(type);
    return name ? name : std::to_string(type);
}

std::string CodeWord(int32_t type, int32_t code) {
    const char* name = GetMsgCodeName(type, code);
    return name ? name : std::to_string(code);
}

WireMessage PackBusMessage(uint32_t id, uint32_t kind, const uint32_t params[4], const void* data,
                           size_t length) {
    WireMessage message;
    message.bytes.resize(kBusHeaderSize + length);
    iBusMessage header = {};
    header.Size = (uint32_t)(kBusHeaderSize + length);
    header.Id = id;
    header.Kind = kind;
    for (int i = 0; i < 4; ++i) {
        header.Param[i] = params ? params[i] : 0;
    }
    memcpy(message.bytes.data(), &header, kBusHeaderSize);
    if (length) {
        memcpy(message.bytes.data() + kBusHeaderSize, data, length);
    }
    return message;
}

WireMessage PackImmMessage(uint32_t id, const IMM& imm, const uint32_t* extra) {
    uint8_t data[kImmMaxPackedData];
    uint32_t flags = 0, length = 0;
    const char* base = reinterpret_cast<const char*>(&imm);
    for (const Part& part : kParts) {
        if (AnyNonZero(base + part.offset, part.size)) {
            memcpy(data + length, base + part.offset, part.size);
            length += (uint32_t)part.size;
            flags |= part.flag;
        }
    }
    if (extra) {
        memcpy(data + length, extra, 4);
        length += 4;
        flags |= kImmHasExtra;
    }
    const uint32_t params[4] = {(uint32_t)imm.Type, (uint32_t)imm.Code, (uint32_t)imm.Info, flags};
    return PackBusMessage(id, VCORE_IBUS_ID_IMM_MESSAGE, params, data, length);
}

bool UnpackImmMessage(const WireMessage& message, IMM* imm, uint32_t* extra, bool* hasExtra) {
    const iBusMessage& header = message.Header();
    memset(imm, 0, sizeof *imm);
    *extra = 0;
    *hasExtra = false;
    imm->Type = (int32_t)header.Param[0];
    imm->Code = (int32_t)header.Param[1];
    imm->Info = (int32_t)header.Param[2];
    if (message.DataLength() == 0) {
        return true;
    }
    const uint32_t flags = header.Param[3];
    if (message.DataLength() < ImmPackedDataLength(flags)) {
        return false;
    }
    const uint8_t* data = message.Data();
    char* base = reinterpret_cast<char*>(imm);
    for (const Part& part : kParts) {
        if (flags & part.flag) {
            memcpy(base + part.offset, data, part.size);
            data += part.size;
        }
    }
    if (flags & kImmHasExtra) {
        memcpy(extra, data, 4);
        *hasExtra = true;
    }
    return true;
}

IMM MakeImm(const ScriptCommand& command) {
    IMM imm;
    memset(&imm, 0, sizeof imm);
    imm.Type = command.type;
    imm.Code = command.code;
    imm.Info = command.info.value_or(0);
    CopyText(imm.Buffer1, sizeof imm.Buffer1, command.buffer[0]);
    CopyText(imm.Buffer2, sizeof imm.Buffer2, command.buffer[1]);
    CopyText(imm.Buffer3, sizeof imm.Buffer3, command.buffer[2]);
    CopyText(imm.Payload, sizeof imm.Payload, command.payload);
    return imm;
}

bool Matches(const ScriptCommand& command, const WireMessage& message) {
    const iBusMessage& header = message.Header();
    if (command.kind == CommandKind::ExpectGeneric) {
        return header.Kind == VCORE_IBUS_ID_GENERIC_MESSAGE &&
               (!command.ioctl || *command.ioctl == header.Param[0]) &&
               (!command.value || *command.value == header.Param[1]);
    }
    if (header.Kind != VCORE_IBUS_ID_IMM_MESSAGE) {
        return false;
    }
    IMM imm;
    uint32_t extra;
    bool hasExtra;
    if (!UnpackImmMessage(message, &imm, &extra, &hasExtra)) {
        return false;
    }
    if (imm.Type != command.type || imm.Code != command.code || (command.info && *command.info != imm.Info)) {
        return false;
    }
    if (command.ioctl && (!hasExtra || extra != *command.ioctl)) {
        return false;
    }
    const char* fields[] = {imm.Buffer1, imm.Buffer2, imm.Buffer3};
    for (int i = 0; i < 3; ++i) {
        if (command.buffer[i] && !SameText(fields[i], sizeof imm.Buffer1, *command.buffer[i])) {
            return false;
        }
    }
    return !command.payload || SameText(imm.Payload, sizeof imm.Payload, *command.payload);
}

std::vector<std::string> CheckGreeting(uint32_t index) {
    if (index < kNoAdapter) {
        return {};
    }
    return {"adapter index " + std::to_string(index) + " (" + Hex(index) + ") is not 0.." +
            std::to_string(kNoAdapter - 1) +
            ": the first 4 bytes of a connection are the index, and nothing comes before them"};
}

std::vector<std::string> CheckAgentMessage(const WireMessage& message, uint32_t index) {
    std::vector<std::string> faults;
    const iBusMessage& header = message.Header();
    const uint32_t dataLength = message.DataLength();
    if (header.Id != FromAgentId(index)) {
        faults.push_back("Id " + Hex(header.Id) + " is not " + Hex(FromAgentId(index)) +
                         ", the to-service id of adapter " + std::to_string(index));
    }
    switch (header.Kind) {
    case VCORE_IBUS_ID_GENERIC_MESSAGE:
        if (dataLength) {
            faults.push_back("a kind-" + std::to_string(header.Kind) + " request carries " +
                             std::to_string(dataLength) + " data bytes (Size " + std::to_string(header.Size) +
                             "): it is the " + std::to_string(kBusHeaderSize) + "-byte header alone");
        }
        for (int param = 2; param < 4; ++param) {
            if (header.Param[param]) {
                faults.push_back("a kind-" + std::to_string(header.Kind) + " request has Param " +
                                 std::to_string(param) + " = " + Hex(header.Param[param]) + ": it must be 0");
            }
        }
        break;
    case VCORE_IBUS_ID_IMM_MESSAGE: {
        const uint32_t flags = header.Param[3];
        if (flags & ~kImmAllFlags) {
            faults.push_back("presence flags " + Hex(flags) + " hold bits other than " + Hex(kImmHasBuffer1) +
                             ".." + Hex(kImmHasExtra) + " (" + Hex(flags & ~kImmAllFlags) + ")");
        }
        const uint32_t announced = ImmPackedDataLength(flags & kImmAllFlags);
        if (dataLength != announced) {
            faults.push_back("presence flags " + Hex(flags) + " announce " + std::to_string(announced) +
                             " data bytes; the message carries " + std::to_string(dataLength) + " (Size " +
                             std::to_string(header.Size) + ")");
            break; // where each part lies is unknown
        }
        const uint8_t* data = message.Data();
        for (const Part& part : kParts) {
            if (!(flags & part.flag)) {
                continue;
            }
            if (!AnyNonZero(reinterpret_cast<const char*>(data), part.size)) {
                faults.push_back(std::string(part.field) + " is flagged present (" + Hex(part.flag) +
                                 ") but all its " + std::to_string(part.size) +
                                 " bytes are zero: a part is present exactly when one of its bytes is not");
            }
            data += part.size;
        }
        break;
    }
    default:
        faults.push_back("Kind " + std::to_string(header.Kind) + " is not one the agent sends (" +
                         std::to_string(VCORE_IBUS_ID_GENERIC_MESSAGE) + ": request, " +
                         std::to_string(VCORE_IBUS_ID_IMM_MESSAGE) + ": IMM)");
        break;
    }
    return faults;
}

std::string DescribeMessage(const WireMessage& message) {
    const iBusMessage& header = message.Header();
    std::string text;
    switch (header.Kind) {
    case VCORE_IBUS_ID_ADAPTOR_INFO:
        text = "ADAPTOR_INFO lowcost=" + std::to_string((int32_t)header.Param[0]);
        break;
    case VCORE_IBUS_ID_GENERIC_MESSAGE:
        text = "GENERIC ioctl=" + Hex(header.Param[0]) + " value=" + std::to_string((int32_t)header.Param[1]);
        break;
    case VCORE_IBUS_ID_IMM_MESSAGE: {
        IMM imm;
        uint32_t extra;
        bool hasExtra;
        bool complete = UnpackImmMessage(message, &imm, &extra, &hasExtra);
        text = "IMM " + TypeWord(imm.Type) + " " + CodeWord(imm.Type, imm.Code) +
               " info=" + std::to_string(imm.Info);
        if (!complete) {
            text += " SHORT-DATA(" + std::to_string(message.DataLength()) +
                    " bytes, flags=" + Hex(header.Param[3]) + ")";
            break;
        }
        const char* base = reinterpret_cast<const char*>(&imm);
        for (const Part& part : kParts) {
            if (AnyNonZero(base + part.offset, part.size)) {
                text += std::string(" ") + part.name + "=" +
                        QuoteText(reinterpret_cast<const uint8_t*>(base + part.offset), part.size);
            }
        }
        if (hasExtra) {
            text += " ioctl=" + Hex(extra);
        }
        break;
    }
    default:
        text = "KIND=" + std::to_string(header.Kind) + " params=" + Hex(header.Param[0]) + "," +
               Hex(header.Param[1]) + "," + Hex(header.Param[2]) + "," + Hex(header.Param[3]) +
               " data=" + std::to_string(message.DataLength());
        break;
    }
    return text + " id=" + Hex(header.Id);
}

std::string DescribeExpectation(const ScriptCommand& command) {
    if (command.kind == CommandKind::ExpectGeneric) {
        std::string text = "GENERIC";
        if (command.ioctl) {
            text += " ioctl=" + Hex(*command.ioctl);
        }
        if (command.value) {
            text += " value=" + std::to_string((int32_t)*command.value);
        }
        return text;
    }
    std::string text = "IMM " + TypeWord(command.type) + " " + CodeWord(command.type, command.code);
    if (command.info) {
        text += " info=" + std::to_string(*command.info);
    }
    for (int i = 0; i < 3; ++i) {
        if (command.buffer[i]) {
            text += " buf" + std::to_string(i + 1) + "=" +
                    QuoteText(reinterpret_cast<const uint8_t*>(command.buffer[i]->data()),
                              command.buffer[i]->size());
        }
    }
    if (command.payload) {
        text += " payload=" +
                QuoteText(reinterpret_cast<const uint8_t*>(command.payload->data()), command.payload->size());
    }
    if (command.ioctl) {
        text += " ioctl=" + Hex(*command.ioctl);
    }
    return text;
}

void MessageSplitter::Feed(const uint8_t* bytes, size_t length) {
    if (m_start && m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    }
    m_buffer.insert(m_buffer.end(), bytes, bytes + length);
}

bool MessageSplitter::Next(WireMessage* message) {
    if (m_broken || Pending() < kBusHeaderSize) {
        return false;
    }
    uint32_t size;
    memcpy(&size, m_buffer.data() + m_start, 4);
    if (size < kBusHeaderSize || size > kMaxAgentMessage) {
        m_broken = true;
        m_brokenSize = size;
        return false;
    }
    if (Pending() < size) {
        return false;
    }
    message->bytes.assign(m_buffer.begin() + m_start, m_buffer.begin() + m_start + size);
    m_start += size;
    m_offset += size;
    if (m_start > 64 * 1024) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + m_start);
        m_start = 0;
    }
    return true;
}

} // namespace orvin::sim
