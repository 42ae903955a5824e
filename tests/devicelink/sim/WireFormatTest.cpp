// The stand-in's side of the wire: its packing agrees with the agent's in both
// directions, the stream is cut into messages however it arrives, each way the agent
// could break the wire description is found, expectations match what they say, and the
// enumeration answers follow the agent's protocol. The interface's numbers are written
// out here (ids, sizes, flags), so a wrong constant in the code fails a test.
#include "OrvinAdapterSim/EnumProtocol.h"
#include "OrvinAdapterSim/ScriptParser.h"
#include "OrvinAdapterSim/WireFormat.h"

#include "devicelink/iBus.h"
#include "devicelink/Imm.h"
#include "devicelink/IoManager.h"
#include "devicelink/MessageCatalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using namespace orvin::sim;

namespace {

IMM Sample(uint32_t parts) {
    IMM imm;
    memset(&imm, 0, sizeof imm);
    imm.Type = MSG_TYPE_CALL_EVENT;
    imm.Code = CALL_STATUS_RINGING;
    imm.Info = 0x12345;
    if (parts & kImmHasBuffer1) {
        strcpy(imm.Buffer1, "+4930123456");
    }
    if (parts & kImmHasBuffer2) {
        imm.Buffer2[31] = 'z'; // present through its last byte alone
    }
    if (parts & kImmHasBuffer3) {
        strcpy(imm.Buffer3, "Jane");
    }
    if (parts & kImmHasPayload) {
        imm.Payload[511] = 1;
    }
    return imm;
}

ScriptCommand Command(const std::string& line) {
    std::optional<ScriptCommand> command;
    std::string error;
    EXPECT_TRUE(ParseScriptLine(line, 1, kSimCommands, &command, &error)) << error;
    return command.value_or(ScriptCommand{});
}

class WireFormatTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(iBusPollingImplementationCreate(&m_implementation, 100), 0);
        m_bus = iBusCreate(&m_implementation);
        ASSERT_NE(m_bus, nullptr);
    }
    void TearDown() override {
        iBusDestroy(m_bus);
        iBusPollingImplementationDestroy(&m_implementation);
    }
    iBusImplementation m_implementation = {};
    iBus* m_bus = nullptr;
};

TEST_F(WireFormatTest, WhatTheStandInPacksTheAgentUnpacks) {
    for (uint32_t parts = 0; parts < 16; ++parts) {
        IMM sent = Sample(parts);
        WireMessage message = PackImmMessage(ToAgentId(0), sent, nullptr);
        EXPECT_EQ(message.Header().Size, message.bytes.size());
        EXPECT_EQ(message.Header().Id, IoManFromServiceId(0));
        EXPECT_EQ(message.Header().Kind, VCORE_IBUS_ID_IMM_MESSAGE);
        EXPECT_EQ(message.Header().Param[3], parts);
        EXPECT_EQ(message.DataLength(), ImmPackedDataLength(parts));

        IMM received;
        uint32_t extra = 0xdeadbeef;
        ASSERT_EQ(iBusInterMessageConvertBusToIMM(&message.Header(), &received, &extra), 1) << parts;
        EXPECT_EQ(memcmp(&received, &sent, sizeof sent), 0) << parts;
        EXPECT_EQ(extra, 0xdeadbeefu);
    }
}

TEST_F(WireFormatTest, WhatTheAgentPacksTheStandInUnpacks) {
    const uint32_t ioctl = 0xF000000A;
    for (uint32_t parts = 0; parts < 16; ++parts) {
        IMM sent = Sample(parts);
        iBusMessageRecord* record =
            iBusInterMessageConvertIMMToBus(m_bus, FromAgentId(0), VCORE_IBUS_ID_IMM_MESSAGE, &ioctl, &sent);
        ASSERT_NE(record, nullptr);
        const iBusMessage* content = iBusGetMessageContent(m_bus, record);
        WireMessage message;
        message.bytes.assign(reinterpret_cast<const uint8_t*>(content),
                             reinterpret_cast<const uint8_t*>(content) + content->Size);
        iBusReleaseMessage(m_bus, record);

        IMM received;
        uint32_t extra = 0;
        bool hasExtra = false;
        ASSERT_TRUE(UnpackImmMessage(message, &received, &extra, &hasExtra)) << parts;
        EXPECT_EQ(memcmp(&received, &sent, sizeof sent), 0) << parts;
        EXPECT_TRUE(hasExtra);
        EXPECT_EQ(extra, ioctl);
        EXPECT_EQ(message.Header().Param[3], parts | kImmHasExtra);
    }
}

TEST(WireFormat, IdsAreTheAgentsIds) {
    const uint32_t toAgent[] = {0x000003E8, 0x000103E8, 0x000203E8, 0x000303E8, 0x000403E8};
    const uint32_t fromAgent[] = {0x03E80000, 0x03E80001, 0x03E80002, 0x03E80003, 0x03E80004};
    for (uint32_t index = 0; index < 5; ++index) {
        EXPECT_EQ(ToAgentId(index), toAgent[index]);
        EXPECT_EQ(FromAgentId(index), fromAgent[index]);
    }
}

TEST(WireFormat, ShortDataIsNotTakenForAMessage) {
    IMM sent = Sample(kImmHasBuffer1 | kImmHasPayload);
    WireMessage message = PackImmMessage(ToAgentId(0), sent, nullptr);
    message.bytes.resize(message.bytes.size() - 1);
    reinterpret_cast<iBusMessage*>(message.bytes.data())->Size -= 1;
    IMM received;
    uint32_t extra;
    bool hasExtra;
    EXPECT_FALSE(UnpackImmMessage(message, &received, &extra, &hasExtra));
    EXPECT_FALSE(Matches(Command("expect CALL_EVENT CALL_STATUS_RINGING"), message));
    EXPECT_NE(DescribeMessage(message).find("SHORT-DATA(543 bytes, flags=0x9)"), std::string::npos)
        << DescribeMessage(message);
}

TEST(WireFormat, TheSplitterFindsMessagesHoweverTheBytesArrive) {
    std::vector<uint8_t> stream;
    for (int i = 0; i < 5; ++i) {
        IMM imm = Sample(i % 2 ? (uint32_t)kImmHasBuffer1 : 0u);
        imm.Info = i;
        WireMessage message = PackImmMessage(FromAgentId(0), imm, nullptr);
        stream.insert(stream.end(), message.bytes.begin(), message.bytes.end());
    }
    for (size_t step : {1u, 3u, 27u, 28u, 29u, 1000u}) {
        MessageSplitter splitter;
        std::vector<int> infos;
        for (size_t at = 0; at < stream.size(); at += step) {
            splitter.Feed(stream.data() + at, std::min(step, stream.size() - at));
            WireMessage message;
            while (splitter.Next(&message)) {
                infos.push_back((int)message.Header().Param[2]);
            }
        }
        EXPECT_EQ(infos, (std::vector<int>{0, 1, 2, 3, 4})) << "step " << step;
        EXPECT_EQ(splitter.Pending(), 0u);
        EXPECT_FALSE(splitter.Broken());
    }
}

TEST(WireFormat, AnImpossibleSizeBreaksTheStream) {
    // The largest message of the agent is 28 + 32 * 3 + 512 + 4 = 640 bytes.
    for (uint32_t size : {0u, 1u, 27u, 641u, 1024u, 65536u, 0xFFFFFFFFu}) {
        MessageSplitter splitter(4);
        uint8_t header[28] = {};
        memcpy(header, &size, 4);
        splitter.Feed(header, sizeof header);
        WireMessage message;
        EXPECT_FALSE(splitter.Next(&message)) << size;
        EXPECT_TRUE(splitter.Broken()) << size;
        EXPECT_EQ(splitter.BrokenSize(), size);
        EXPECT_EQ(splitter.NextOffset(), 4u);
    }
    for (uint32_t size : {28u, 29u, 639u, 640u}) {
        MessageSplitter splitter(4);
        std::vector<uint8_t> bytes(size, 0x5A);
        memcpy(bytes.data(), &size, 4);
        splitter.Feed(bytes.data(), bytes.size() - 1);
        WireMessage message;
        EXPECT_FALSE(splitter.Next(&message)) << size; // one byte short
        EXPECT_FALSE(splitter.Broken()) << size;
        splitter.Feed(&bytes.back(), 1);
        ASSERT_TRUE(splitter.Next(&message)) << size;
        EXPECT_EQ(message.bytes, bytes);
        EXPECT_EQ(splitter.NextOffset(), 4u + size);
    }
}

TEST(WireFormat, TheSplitterCountsEachMessagesOffsetInTheConnection) {
    MessageSplitter splitter(4); // after the 4-byte greeting
    std::vector<uint8_t> stream;
    for (uint32_t size : {28u, 32u, 640u, 28u}) {
        std::vector<uint8_t> bytes(size, 0);
        memcpy(bytes.data(), &size, 4);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    splitter.Feed(stream.data(), stream.size());
    std::vector<uint64_t> offsets;
    WireMessage message;
    for (uint64_t offset = splitter.NextOffset(); splitter.Next(&message); offset = splitter.NextOffset()) {
        offsets.push_back(offset);
    }
    EXPECT_EQ(offsets, (std::vector<uint64_t>{4, 32, 64, 704}));
    EXPECT_EQ(splitter.NextOffset(), 732u);
}

// A message from the agent as bytes on the pipe: the header, then `data`.
WireMessage Raw(uint32_t id, uint32_t kind, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3,
                const std::vector<uint8_t>& data = {}) {
    const uint32_t header[7] = {(uint32_t)(28 + data.size()), id, kind, p0, p1, p2, p3};
    WireMessage message;
    message.bytes.assign(reinterpret_cast<const uint8_t*>(header),
                         reinterpret_cast<const uint8_t*>(header) + 28);
    message.bytes.insert(message.bytes.end(), data.begin(), data.end());
    return message;
}

std::vector<uint8_t> Bytes(size_t count, uint8_t value) {
    return std::vector<uint8_t>(count, value);
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> joined;
    for (const std::vector<uint8_t>& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

std::string Faults(const WireMessage& message, uint32_t index = 0) {
    std::string text;
    for (const std::string& fault : CheckAgentMessage(message, index)) {
        text += (text.empty() ? "" : " | ") + fault;
    }
    return text;
}

TEST(Conformance, WhatTheAgentSendsPasses) {
    const std::vector<uint8_t> ioctl = {0x0A, 0x00, 0x00, 0xF0};
    // Requests, IMMs with any set of parts, the largest possible message, an extra value of 0.
    EXPECT_EQ(Faults(Raw(0x03E80000, 2, 0xF000000E, 0, 0, 0)), "");
    EXPECT_EQ(Faults(Raw(0x03E80000, 2, 0xF000000E, 0xFFFFFFFF, 0, 0)), "");
    EXPECT_EQ(Faults(Raw(0x03E80000, 3, 3, 1, 0, 0)), "");
    EXPECT_EQ(Faults(Raw(0x03E80000, 3, 3, 1, 0, 0x10, ioctl)), "");
    EXPECT_EQ(Faults(Raw(0x03E80000, 3, 3, 1, 0, 0x10, Bytes(4, 0))), "");
    std::vector<uint8_t> lastByteOnly = Bytes(32, 0);
    lastByteOnly[31] = 1;
    EXPECT_EQ(Faults(Raw(0x03E80000, 3, 0, 4, 0, 0x02, lastByteOnly)), "");
    WireMessage largest = Raw(0x03E80000, 3, 0, 4, 7, 0x1F,
                              Join({Bytes(32, 'a'), Bytes(32, 'b'), Bytes(32, 'c'), Bytes(512, 'd'), ioctl}));
    EXPECT_EQ(largest.bytes.size(), 640u);
    EXPECT_EQ(Faults(largest), "");
    EXPECT_EQ(Faults(Raw(0x03E80004, 2, 0xF000000E, 0, 0, 0), 4), "");
    EXPECT_TRUE(CheckGreeting(0).empty());
    EXPECT_TRUE(CheckGreeting(4).empty());
}

// What the device link's own packing makes is what the checker lets through.
TEST_F(WireFormatTest, WhatTheAgentPacksPassesTheChecks) {
    const uint32_t ioctl = 0xF000000A;
    for (uint32_t index = 0; index < 5; ++index) {
        for (uint32_t parts = 0; parts < 16; ++parts) {
            IMM sent = Sample(parts);
            iBusMessageRecord* record =
                iBusInterMessageConvertIMMToBus(m_bus, 0x03E80000 + index, 3, &ioctl, &sent);
            ASSERT_NE(record, nullptr);
            const iBusMessage* content = iBusGetMessageContent(m_bus, record);
            WireMessage message;
            message.bytes.assign(reinterpret_cast<const uint8_t*>(content),
                                 reinterpret_cast<const uint8_t*>(content) + content->Size);
            iBusReleaseMessage(m_bus, record);
            EXPECT_EQ(Faults(message, index), "") << "parts " << parts;
        }
        const uint32_t params[4] = {0xF000000E, 0, 0, 0};
        iBusMessageRecord* request = iBusCreateMessage(m_bus, 0x03E80000 + index, 2, params, 4, nullptr, 0);
        ASSERT_NE(request, nullptr);
        const iBusMessage* content = iBusGetMessageContent(m_bus, request);
        WireMessage message;
        message.bytes.assign(reinterpret_cast<const uint8_t*>(content),
                             reinterpret_cast<const uint8_t*>(content) + content->Size);
        iBusReleaseMessage(m_bus, request);
        EXPECT_EQ(Faults(message, index), "");
    }
}

TEST(Conformance, TheIdIsTheToServiceIdOfTheGreetedIndex) {
    EXPECT_EQ(Faults(Raw(0x03E80001, 2, 0xF000000E, 0, 0, 0)),
              "Id 0x3e80001 is not 0x3e80000, the to-service id of adapter 0");
    EXPECT_EQ(Faults(Raw(0x000003E8, 2, 0xF000000E, 0, 0, 0)),
              "Id 0x3e8 is not 0x3e80000, the to-service id of adapter 0");
    EXPECT_EQ(Faults(Raw(0x03E80000, 2, 0xF000000E, 0, 0, 0), 3),
              "Id 0x3e80000 is not 0x3e80003, the to-service id of adapter 3");
    EXPECT_EQ(Faults(Raw(0x03E80003, 2, 0xF000000E, 0, 0, 0), 3), "");
}

TEST(Conformance, OnlyKinds2And3ComeFromTheAgent) {
    for (uint32_t kind : {0u, 1u, 4u, 9u, 0xFFFFFFFFu}) {
        EXPECT_EQ(Faults(Raw(0x03E80000, kind, 0, 0, 0, 0)),
                  "Kind " + std::to_string(kind) + " is not one the agent sends (2: request, 3: IMM)");
    }
}

TEST(Conformance, ARequestIsTheHeaderAloneWithParams2And3Zero) {
    EXPECT_EQ(Faults(Raw(0x03E80000, 2, 0xF000000E, 0, 0, 0, Bytes(4, 1))),
              "a kind-2 request carries 4 data bytes (Size 32): it is the 28-byte header alone");
    EXPECT_EQ(Faults(Raw(0x03E80000, 2, 0xF000000E, 0, 5, 0)),
              "a kind-2 request has Param 2 = 0x5: it must be 0");
    EXPECT_EQ(Faults(Raw(0x03E80000, 2, 0xF000000E, 0, 0, 0x10)),
              "a kind-2 request has Param 3 = 0x10: it must be 0");
    // Every fault of one message is told.
    EXPECT_EQ(
        Faults(Raw(0x03E80009, 2, 0xF000000E, 0, 1, 2, Bytes(1, 0))),
        "Id 0x3e80009 is not 0x3e80000, the to-service id of adapter 0 | a kind-2 request carries 1 data "
        "bytes (Size 29): it is the 28-byte header alone | a kind-2 request has Param 2 = 0x1: it must be 0 | "
        "a kind-2 request has Param 3 = 0x2: it must be 0");
}

TEST(Conformance, AnImmFlagsOnlyItsPartsAndCarriesExactlyThem) {
    EXPECT_EQ(Faults(Raw(0x03E80000, 3, 3, 1, 0, 0x20)),
              "presence flags 0x20 hold bits other than 0x1..0x10 (0x20)");
    EXPECT_EQ(Faults(Raw(0x03E80000, 3, 3, 1, 0, 0x80000010, Bytes(4, 1))),
              "presence flags 0x80000010 hold bits other than 0x1..0x10 (0x80000000)");
    // Shorter and longer than the flags say: Buffer1..3 32 bytes each, Payload 512, extra 4.
    const struct {
        uint32_t flags;
        uint32_t announced;
    } parts[] = {{0x01, 32}, {0x02, 32}, {0x04, 32}, {0x08, 512}, {0x10, 4}, {0x1F, 612}, {0x0C, 544}};
    for (const auto& part : parts) {
        for (int delta : {-1, 1}) {
            const uint32_t carried = part.announced + delta;
            EXPECT_EQ(Faults(Raw(0x03E80000, 3, 1, 2, 0, part.flags, Bytes(carried, 0x33))),
                      "presence flags 0x" + (std::stringstream() << std::hex << part.flags).str() +
                          " announce " + std::to_string(part.announced) +
                          " data bytes; the message carries " + std::to_string(carried) + " (Size " +
                          std::to_string(28 + carried) + ")");
        }
    }
    EXPECT_EQ(Faults(Raw(0x03E80000, 3, 1, 2, 0, 0x18)),
              "presence flags 0x18 announce 516 data bytes; the message carries 0 (Size 28)");
    EXPECT_EQ(Faults(Raw(0x03E80000, 3, 1, 2, 0, 0, Bytes(4, 1))),
              "presence flags 0x0 announce 0 data bytes; the message carries 4 (Size 32)");
}

TEST(Conformance, AFlaggedBufferIsNeverAllZero) {
    const std::vector<uint8_t> ioctl = {0x0A, 0x00, 0x00, 0xF0};
    EXPECT_EQ(
        Faults(Raw(0x03E80000, 3, 0, 4, 0, 0x11, Join({Bytes(32, 0), ioctl}))),
        "Buffer1 is flagged present (0x1) but all its 32 bytes are zero: a part is present exactly when one "
        "of its bytes is not");
    EXPECT_EQ(
        Faults(Raw(0x03E80000, 3, 0, 4, 0, 0x06, Join({Bytes(32, 'x'), Bytes(32, 0)}))),
        "Buffer3 is flagged present (0x4) but all its 32 bytes are zero: a part is present exactly when one "
        "of its bytes is not");
    EXPECT_EQ(
        Faults(Raw(0x03E80000, 3, 0, 4, 0, 0x0A, Join({Bytes(32, 0), Bytes(512, 0)}))),
        "Buffer2 is flagged present (0x2) but all its 32 bytes are zero: a part is present exactly when one "
        "of its bytes is not | Payload is flagged present (0x8) but all its 512 bytes are zero: a part is "
        "present exactly when one of its bytes is not");
}

TEST(Conformance, TheGreetingIsAnIndexFrom0To4) {
    for (uint32_t index : {5u, 28u, 0x03E80000u}) {
        std::vector<std::string> faults = CheckGreeting(index);
        ASSERT_EQ(faults.size(), 1u);
        std::stringstream hex;
        hex << std::hex << index;
        EXPECT_EQ(faults[0],
                  "adapter index " + std::to_string(index) + " (0x" + hex.str() +
                      ") is not 0..4: the first 4 bytes of a connection are the index, and nothing "
                      "comes before them");
    }
}

TEST(WireFormat, ExpectationsMatchWhatTheyName) {
    IMM imm = Sample(kImmHasBuffer1);
    const uint32_t ioctl = 0xF000000A;
    WireMessage message = PackImmMessage(FromAgentId(0), imm, &ioctl);

    EXPECT_TRUE(Matches(Command("expect CALL_EVENT CALL_STATUS_RINGING"), message));
    EXPECT_TRUE(Matches(Command("expect 0 4 info=0x12345 buf1=+4930123456 ioctl=0xF000000A"), message));
    EXPECT_TRUE(Matches(Command("expect 0 4 buf2=\"\" payload=\"\""), message));
    EXPECT_FALSE(Matches(Command("expect CALL_EVENT CALL_STATUS_INPROGRESS"), message));
    EXPECT_FALSE(Matches(Command("expect HW_EVENT 4"), message));
    EXPECT_FALSE(Matches(Command("expect 0 4 info=0"), message));
    EXPECT_FALSE(Matches(Command("expect 0 4 buf1=+493012345"), message)); // a prefix is not the text
    EXPECT_FALSE(Matches(Command("expect 0 4 buf1=\"\""), message));
    EXPECT_FALSE(Matches(Command("expect 0 4 ioctl=0xF000000C"), message));
    EXPECT_FALSE(Matches(Command("expect-generic"), message));

    WireMessage noExtra = PackImmMessage(FromAgentId(0), imm, nullptr);
    EXPECT_FALSE(Matches(Command("expect 0 4 ioctl=0xF000000A"), noExtra));

    const uint32_t params[4] = {0xF000000E, 7, 0, 0};
    WireMessage generic = PackBusMessage(FromAgentId(0), VCORE_IBUS_ID_GENERIC_MESSAGE, params, nullptr, 0);
    EXPECT_TRUE(Matches(Command("expect-generic"), generic));
    EXPECT_TRUE(Matches(Command("expect-generic ioctl=0xF000000E value=7"), generic));
    EXPECT_FALSE(Matches(Command("expect-generic value=0"), generic));
    EXPECT_FALSE(Matches(Command("expect CALL_EVENT 0"), generic));
}

TEST(WireFormat, SendCommandsBuildTheirImmAndLogLinesReadLikeTheScript) {
    IMM imm = MakeImm(Command("send HW_EVENT NOTIFY_DTMF_KEY info='#' buf1=\"1 2\" buf3=x"));
    EXPECT_EQ(imm.Type, MSG_TYPE_HW_EVENT);
    EXPECT_EQ(imm.Code, NOTIFY_DTMF_KEY);
    EXPECT_EQ(imm.Info, '#');
    EXPECT_STREQ(imm.Buffer1, "1 2");
    EXPECT_EQ(imm.Buffer2[0], 0);
    EXPECT_STREQ(imm.Buffer3, "x");

    WireMessage message = PackImmMessage(ToAgentId(0), imm, nullptr);
    EXPECT_EQ(DescribeMessage(message),
              "IMM MSG_TYPE_HW_EVENT NOTIFY_DTMF_KEY info=35 buf1=\"1 2\" buf3=x id=0x3e8");

    const uint32_t ioctl = 0xF000000A;
    IMM agent = {};
    agent.Type = MSG_TYPE_AGENT_EVENT;
    agent.Code = NotifyAgentStatus;
    EXPECT_EQ(DescribeMessage(PackImmMessage(FromAgentId(2), agent, &ioctl)),
              "IMM MSG_TYPE_AGENT_EVENT NotifyAgentStatus info=0 ioctl=0xf000000a id=0x3e80002");
    agent.Type = 12;
    agent.Code = 3;
    EXPECT_EQ(DescribeMessage(PackImmMessage(FromAgentId(0), agent, nullptr)),
              "IMM 12 3 info=0 id=0x3e80000");

    const uint32_t lowCost[4] = {0, 0, 0, 0};
    EXPECT_EQ(DescribeMessage(PackBusMessage(ToAgentId(1), VCORE_IBUS_ID_ADAPTOR_INFO, lowCost, nullptr, 0)),
              "ADAPTOR_INFO lowcost=0 id=0x103e8");
    const uint32_t generic[4] = {0xF000000E, 0, 0, 0};
    EXPECT_EQ(
        DescribeMessage(PackBusMessage(FromAgentId(0), VCORE_IBUS_ID_GENERIC_MESSAGE, generic, nullptr, 0)),
        "GENERIC ioctl=0xf000000e value=0 id=0x3e80000");
    const uint32_t odd[4] = {1, 2, 3, 4};
    EXPECT_EQ(DescribeMessage(PackBusMessage(FromAgentId(0), 9, odd, "ab", 2)),
              "KIND=9 params=0x1,0x2,0x3,0x4 data=2 id=0x3e80000");

    EXPECT_EQ(DescribeExpectation(Command("expect CALL_EVENT CALL_STATUS_INPROGRESS info=5 buf1=\"a b\"")),
              "IMM MSG_TYPE_CALL_EVENT CALL_STATUS_INPROGRESS info=5 buf1=\"a b\"");
    EXPECT_EQ(DescribeExpectation(Command("expect-generic ioctl=0xF000000E")), "GENERIC ioctl=0xf000000e");
}

std::vector<uint8_t> Ask(const EnumConfig& config, uint32_t command, uint32_t index, uint32_t capacity,
                         uint32_t size = 16) {
    const uint32_t request[4] = {size, command, index, capacity};
    std::string note;
    return AnswerEnumRequest(config, reinterpret_cast<const uint8_t*>(request), &note);
}

uint32_t Field(const std::vector<uint8_t>& answer, int i) {
    uint32_t value;
    memcpy(&value, answer.data() + 4 * i, 4);
    return value;
}

TEST(EnumProtocol, CountAndKeysAsTheAgentAsksForThem) {
    EnumConfig config;
    config.keys = {"SOFTWARE\\A", "SOFTWARE\\Second"};

    std::vector<uint8_t> count = Ask(config, kEnumCommandCount, 0, 0);
    ASSERT_EQ(count.size(), 16u);
    EXPECT_EQ(Field(count, 0), 16u);
    EXPECT_EQ(Field(count, 2), 0u);
    EXPECT_EQ(Field(count, 3), 2u);

    std::vector<uint8_t> key = Ask(config, kEnumCommandKey, 1, 260);
    ASSERT_EQ(key.size(), 16u + 16u);
    EXPECT_EQ(Field(key, 0), 32u);
    EXPECT_EQ(Field(key, 2), 0u);
    EXPECT_EQ(Field(key, 3), 16u); // the key with its NUL
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(key.data() + 16)), "SOFTWARE\\Second");
    EXPECT_EQ(key.back(), 0);

    // Room for exactly the key and its NUL is enough; one byte less gets the length only.
    EXPECT_EQ(Ask(config, kEnumCommandKey, 1, 16).size(), 32u);
    std::vector<uint8_t> tooSmall = Ask(config, kEnumCommandKey, 1, 15);
    ASSERT_EQ(tooSmall.size(), 16u);
    EXPECT_EQ(Field(tooSmall, 2), 0u);
    EXPECT_EQ(Field(tooSmall, 3), 16u);

    for (const std::vector<uint8_t>& refused : {Ask(config, kEnumCommandKey, 2, 260), Ask(config, 3, 0, 0),
                                                Ask(config, kEnumCommandCount, 0, 0, 12)}) {
        ASSERT_EQ(refused.size(), 16u);
        EXPECT_EQ(Field(refused, 0), 16u);
        EXPECT_EQ(Field(refused, 2), 1u);
        EXPECT_EQ(Field(refused, 3), 0u);
    }

    EnumConfig none;
    EXPECT_EQ(Field(Ask(none, kEnumCommandCount, 0, 0), 3), 0u);
    EXPECT_EQ(Field(Ask(none, kEnumCommandKey, 0, 260), 2), 1u);
}

} // namespace
