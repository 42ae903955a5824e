// The I/O manager pipe's messages as the service end sees them: building them, cutting
// the byte stream back into messages, checking what the agent sends against the wire
// description, matching messages against a script's expectations and writing them as
// log text. Plain data, no pipes and no trace: the stand-in must never write into the
// agent's trace file.
//
// The layouts, kinds, flags and ids are the device link's own (iBus.h, Imm.h,
// IoManager.h): the stand-in checks the agent against the one definition both share.
#pragma once

#include "devicelink/iBus.h"
#include "devicelink/Imm.h"
#include "devicelink/IoManager.h"
#include "ScriptParser.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvin::sim {

// Ids on the pipe for adapter `index`.
constexpr uint32_t ToAgentId(uint32_t index) {
    return IoManFromServiceId(index);
}
constexpr uint32_t FromAgentId(uint32_t index) {
    return IoManToServiceId(index);
}

// The largest message the agent can send: the header, every IMM part and the extra value.
// A header whose Size lies outside kBusHeaderSize..kMaxAgentMessage belongs to no message
// of the agent, and nothing after it can be framed again.
constexpr uint32_t kMaxAgentMessage = kBusHeaderSize + kImmMaxPackedData;

// Every presence flag a packed IMM may carry.
constexpr uint32_t kImmAllFlags =
    kImmHasBuffer1 | kImmHasBuffer2 | kImmHasBuffer3 | kImmHasPayload | kImmHasExtra;

// One whole message: the 28-byte header followed by its data.
struct WireMessage {
    std::vector<uint8_t> bytes;
    // The performance counter when the read that completed it returned (service side).
    int64_t receivedAt = 0;
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

// Whether a message from the agent meets an expect, expect-generic or measure command.
bool Matches(const ScriptCommand& command, const WireMessage& message);

// The conformance checks on what the agent writes to the service's pipe. Each returns
// what is wrong, one text per fault, in the wire description's own words; nothing when
// all is well.
//
// The greeting: the first 4 bytes of a connection are the adapter index (0 to 4), with
// nothing before them.
std::vector<std::string> CheckGreeting(uint32_t index);
// A whole message from an agent that greeted with `index`: its Id is the to-service id of
// that index; its kind is 2 or 3; a kind-2 request is exactly the header, with Param 2
// and 3 zero; a kind-3 IMM flags only known parts, carries exactly the data its flags
// announce, and flags no buffer that is all zero (a buffer is present exactly when one of
// its bytes is not; the extra value may be anything).
std::vector<std::string> CheckAgentMessage(const WireMessage& message, uint32_t index);

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

// Cuts the agent's byte stream into whole messages, however the bytes arrive.
class MessageSplitter {
public:
    // `offset`: where in the connection the stream fed here begins (4, after the greeting).
    explicit MessageSplitter(uint64_t offset = 0) : m_offset(offset) {}

    void Feed(const uint8_t* bytes, size_t length);
    // The next whole message, if one is in.
    bool Next(WireMessage* message);
    // A header whose Size is below 28 or above kMaxAgentMessage: nothing more can be read.
    bool Broken() const { return m_broken; }
    uint32_t BrokenSize() const { return m_brokenSize; }
    size_t Pending() const { return m_buffer.size() - m_start; }
    // The connection offset of the first byte not yet taken as a message: the start of
    // the next message (or of the broken header).
    uint64_t NextOffset() const { return m_offset; }

private:
    std::vector<uint8_t> m_buffer;
    size_t m_start = 0;
    uint64_t m_offset;
    bool m_broken = false;
    uint32_t m_brokenSize = 0;
};

} // namespace orvin::sim
