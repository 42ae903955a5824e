// The I/O manager pipe's messages as the service end sees them: building them, cutting
// the byte stream back into messages, matching them against a script's expectations and
// writing them as log text. Plain data, no pipes and no trace: the stand-in must never
// write into the agent's trace file.
#pragma once

#include "Imm.h"
#include "ScriptParser.h"
#include "iBus.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvin::sim {

// Ids on the pipe for adapter `index`.
constexpr uint32_t ToAgentId(uint32_t index) {
    return (index << 16) | 1000;
}
constexpr uint32_t FromAgentId(uint32_t index) {
    return (1000u << 16) | index;
}

// Messages larger than this are taken as a broken stream (the agent never sends more
// than 28 + 612 bytes).
constexpr uint32_t kMaxWireMessage = 64 * 1024;

// One whole message: the 28-byte header followed by its data.
struct WireMessage {
    std::vector<uint8_t> bytes;
    const iBusMessage& Header() const { return *reinterpret_cast<const iBusMessage*>(bytes.data()); }
    const uint8_t* Data() const { return bytes.data() + kBusHeaderSize; }
    uint32_t DataLength() const { return (uint32_t)bytes.size() - kBusHeaderSize; }
};

WireMessage PackBusMessage(uint32_t id, uint32_t kind, const uint32_t params[4], const void* data,
                           size_t length);
// Kind 3: the present parts of `imm` and, when given, the extra value (flag 0x10).
WireMessage PackImmMessage(uint32_t id, const IMM& imm, const uint32_t* extra);
// Unpacks a kind-3 message. False when the data are shorter than the presence flags say.
bool UnpackImmMessage(const WireMessage& message, IMM* imm, uint32_t* extra, bool* hasExtra);

// The IMM a send, expect or burst command describes (unset parts zero).
IMM MakeImm(const ScriptCommand& command);

// Whether a message from the agent meets an expect or expect-generic command.
bool Matches(const ScriptCommand& command, const WireMessage& message);

// A type or code by its catalogue name, or as a number when it has none.
std::string TypeWord(int32_t type);
std::string CodeWord(int32_t type, int32_t code);

// One line of text for a message, in the script's own words where it can be:
//   IMM MSG_TYPE_HW_EVENT NOTIFY_HOOK_STATE info=1 buf1=... ioctl=0xf000000a id=0x3e80000
//   ADAPTOR_INFO lowcost=1 id=0x3e8
//   GENERIC ioctl=0xf000000e value=0 id=0x3e80000
std::string DescribeMessage(const WireMessage& message);
// What an expect or expect-generic command waits for, in the same words.
std::string DescribeExpectation(const ScriptCommand& command);

// Cuts a byte stream into whole messages, however the bytes arrive.
class MessageSplitter {
public:
    void Feed(const uint8_t* bytes, size_t length);
    // The next whole message, if one is in.
    bool Next(WireMessage* message);
    // A header whose Size is below 28 or above kMaxWireMessage: nothing more can be read.
    bool Broken() const { return m_broken; }
    uint32_t BrokenSize() const { return m_brokenSize; }
    size_t Pending() const { return m_buffer.size() - m_start; }

private:
    std::vector<uint8_t> m_buffer;
    size_t m_start = 0;
    bool m_broken = false;
    uint32_t m_brokenSize = 0;
};

} // namespace orvin::sim
