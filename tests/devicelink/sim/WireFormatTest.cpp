// The stand-in's side of the wire: its packing agrees with the agent's in both
// directions, the stream is cut into messages however it arrives, expectations match
// what they say, and the enumeration answers follow the agent's protocol.
#include "EnumProtocol.h"
#include "ScriptParser.h"
#include "WireFormat.h"

#include "Imm.h"
#include "IoManager.h"
#include "MessageCatalogue.h"
#include "iBus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

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
    for (uint32_t index = 0; index < 5; ++index) {
        EXPECT_EQ(ToAgentId(index), IoManFromServiceId(index));
        EXPECT_EQ(FromAgentId(index), IoManToServiceId(index));
    }
    EXPECT_EQ(ToAgentId(0), 0x3E8u);
    EXPECT_EQ(FromAgentId(0), 0x3E80000u);
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
    for (uint32_t size : {0u, 27u, kMaxWireMessage + 1}) {
        MessageSplitter splitter;
        uint8_t header[28] = {};
        memcpy(header, &size, 4);
        splitter.Feed(header, sizeof header);
        WireMessage message;
        EXPECT_FALSE(splitter.Next(&message));
        EXPECT_TRUE(splitter.Broken());
        EXPECT_EQ(splitter.BrokenSize(), size);
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
