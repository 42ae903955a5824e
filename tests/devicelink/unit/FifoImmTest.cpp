// The byte FIFO and the packed form of IMM messages: no pipes, no threads.
#include "devicelink/ByteFifo.h"
#include "devicelink/Imm.h"
#include "devicelink/IoManager.h"
#include "devicelink/MessageCatalogue.h"
#include "devicelink/NPipe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(ByteFifoTest, FullEmptyAndWrapAround) {
    ByteFifo fifo;
    EXPECT_EQ(ByteFifoInit(nullptr, nullptr, 8), 1);
    EXPECT_EQ(ByteFifoInit(&fifo, nullptr, 0), 1);
    ASSERT_EQ(ByteFifoInit(&fifo, nullptr, 8), 0);
    char out[16] = {};
    EXPECT_EQ(ByteFifoRead(&fifo, out, 4), 0u) << "empty";
    EXPECT_EQ(ByteFifoWrite(&fifo, "abcdef", 6), 6u);
    EXPECT_EQ(ByteFifoRead(&fifo, out, 4), 4u);
    EXPECT_EQ(std::string(out, 4), "abcd");
    // Six free now, of which four are at the end of the buffer and two at its start.
    EXPECT_EQ(ByteFifoFreeSpace(&fifo), 6u);
    EXPECT_EQ(ByteFifoWrite(&fifo, "ghijklmn", 8), 6u) << "takes only what fits";
    EXPECT_EQ(ByteFifoFreeSpace(&fifo), 0u);
    EXPECT_EQ(ByteFifoWrite(&fifo, "z", 1), 0u) << "full";
    EXPECT_EQ(ByteFifoCount(&fifo), 8u);
    EXPECT_EQ(ByteFifoRead(&fifo, out, 16), 8u);
    EXPECT_EQ(std::string(out, 8), "efghijkl");
    ByteFifoWrite(&fifo, "xyz", 3);
    ByteFifoReset(&fifo);
    EXPECT_EQ(ByteFifoCount(&fifo), 0u);
    EXPECT_EQ(ByteFifoRead(&fifo, out, 3), 0u);
    ByteFifoRelease(&fifo);

    // With a caller's buffer, byte by byte around the ring many times.
    uint8_t storage[5];
    ASSERT_EQ(ByteFifoInit(&fifo, storage, sizeof storage), 0);
    for (int i = 0; i < 100; ++i) {
        uint8_t in[3] = {(uint8_t)i, (uint8_t)(i + 1), (uint8_t)(i + 2)}, back[3] = {};
        ASSERT_EQ(ByteFifoWrite(&fifo, in, 3), 3u);
        ASSERT_EQ(ByteFifoRead(&fifo, back, 3), 3u);
        ASSERT_EQ(memcmp(in, back, 3), 0) << i;
    }
    ByteFifoRelease(&fifo);
}

TEST(NPipeTest, NamesAndArguments) {
    char* name = NPipeMakeName(nullptr, "VCORE\\IOMAN");
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "\\\\.\\PIPE\\VCORE\\IOMAN");
    free(name);
    name = NPipeMakeName("host", "X");
    EXPECT_STREQ(name, "\\\\host\\PIPE\\X");
    free(name);
    EXPECT_EQ(NPipeMakeName(nullptr, ""), nullptr);
    EXPECT_EQ(NPipeMakeName(nullptr, nullptr), nullptr);

    NPipe* pipe = NPipeCreate();
    ASSERT_NE(pipe, nullptr);
    bool connected = true;
    EXPECT_EQ(NPipeConnect(pipe, nullptr, &connected), 1);
    EXPECT_EQ(NPipeConnect(pipe, "\\\\.\\PIPE\\OrvinNoSuchPipe", &connected), 0);
    EXPECT_FALSE(connected) << "no pipe yet reads as not connected";
    size_t length = 0;
    EXPECT_EQ(NPipeWrite(pipe, "x", &length), 1) << "zero length";
    length = 3;
    EXPECT_EQ(NPipeWrite(pipe, "abc", &length), 0);
    size_t space = 0;
    NPipeGetWriteSpace(pipe, &space);
    EXPECT_EQ(space, kNPipeFifoSize - 3);
    NPipeDestroy(pipe);
}

class ImmTest : public ::testing::Test {
protected:
    void SetUp() override {
        iBusPollingImplementationCreate(&m_impl, 0);
        m_bus = iBusCreate(&m_impl);
    }
    void TearDown() override {
        iBusDestroy(m_bus);
        iBusPollingImplementationDestroy(&m_impl);
    }
    iBusImplementation m_impl{};
    iBus* m_bus = nullptr;
};

TEST_F(ImmTest, EveryPresenceCombinationRoundTrips) {
    char* parts[4];
    size_t sizes[4] = {32, 32, 32, 512};
    for (uint32_t combo = 0; combo < 32; ++combo) {
        IMM in = {};
        in.Type = MSG_TYPE_HW_EVENT;
        in.Code = NOTIFY_DTMF_KEY;
        in.Info = -7;
        parts[0] = in.Buffer1, parts[1] = in.Buffer2, parts[2] = in.Buffer3, parts[3] = in.Payload;
        for (int p = 0; p < 4; ++p) {
            if (combo & (1u << p)) {
                // Only the last byte set: presence must look at every byte.
                parts[p][sizes[p] - 1] = (char)(0x40 + p);
                parts[p][0] = (char)(p + 1);
            }
        }
        const uint32_t extra = 0xF000000A;
        const bool withExtra = (combo & 0x10) != 0;
        iBusMessageRecord* record = iBusInterMessageConvertIMMToBus(m_bus, 9, VCORE_IBUS_ID_IMM_MESSAGE,
                                                                    withExtra ? &extra : nullptr, &in);
        ASSERT_NE(record, nullptr);
        const iBusMessage* content = iBusGetMessageContent(m_bus, record);
        EXPECT_EQ(content->Param[3], combo) << "flags";
        EXPECT_EQ(content->Size, kBusHeaderSize + ImmPackedDataLength(combo));
        EXPECT_EQ(content->Param[0], (uint32_t)MSG_TYPE_HW_EVENT);
        EXPECT_EQ((int32_t)content->Param[2], -7);

        IMM out;
        memset(&out, 0xEE, sizeof out);
        uint32_t extraOut = 0xdeadbeef;
        ASSERT_EQ(iBusInterMessageConvertBusToIMM(content, &out, &extraOut), 1);
        EXPECT_EQ(memcmp(&in, &out, sizeof in), 0) << "combination " << combo;
        EXPECT_EQ(extraOut, withExtra ? extra : 0xdeadbeef);
        iBusReleaseMessage(m_bus, record);
    }
}

TEST_F(ImmTest, LayoutOfTheDataFollowsTheFlags) {
    IMM in = {};
    in.Buffer2[0] = 'B';
    in.Payload[511] = 'P';
    const uint32_t extra = 0xF000000F;
    iBusMessageRecord* record = iBusInterMessageConvertIMMToBus(m_bus, 1, 3, &extra, &in);
    const iBusMessage* content = iBusGetMessageContent(m_bus, record);
    EXPECT_EQ(content->Param[3], kImmHasBuffer2 | kImmHasPayload | kImmHasExtra);
    ASSERT_EQ(content->Size, 28u + 32 + 512 + 4);
    const uint8_t* data = iBusMessageData(content);
    EXPECT_EQ(data[0], 'B') << "the data start with Buffer2";
    EXPECT_EQ(data[32 + 511], 'P');
    uint32_t tail;
    memcpy(&tail, data + 32 + 512, 4);
    EXPECT_EQ(tail, extra);
    iBusReleaseMessage(m_bus, record);

    IMM zero = {};
    record = iBusInterMessageConvertIMMToBus(m_bus, 1, 3, nullptr, &zero);
    EXPECT_EQ(iBusGetMessageContent(m_bus, record)->Size, 28u) << "all buffers zero: header only";
    iBusReleaseMessage(m_bus, record);
    record = iBusInterMessageConvertIMMToBus(m_bus, 1, 3, &extra, &zero);
    EXPECT_EQ(iBusGetMessageContent(m_bus, record)->Size, 32u);
    iBusReleaseMessage(m_bus, record);
}

TEST_F(ImmTest, DataShorterThanTheFlagsIsRefused) {
    // Flags announce Buffer1 and the payload (544 bytes); only 40 bytes came.
    std::vector<uint8_t> data(40, 'x');
    const uint32_t params[4] = {1, 0, 0, kImmHasBuffer1 | kImmHasPayload};
    iBusMessageRecord* record = iBusCreateMessage(m_bus, 1, 3, params, 4, data.data(), data.size());
    IMM out;
    EXPECT_EQ(iBusInterMessageConvertBusToIMM(iBusGetMessageContent(m_bus, record), &out, nullptr), 0);
    EXPECT_EQ(out.Buffer1[0], 0) << "nothing of the short message is taken";
    iBusReleaseMessage(m_bus, record);
    EXPECT_EQ(iBusInterMessageConvertBusToIMM(nullptr, &out, nullptr), 0);
}

TEST(IoManagerCodesTest, InternalCodesAndIds) {
    EXPECT_EQ(IoManTranslateInternalCode(0), 0xF000000F);
    EXPECT_EQ(IoManTranslateInternalCode(1), 0xF000000A);
    EXPECT_EQ(IoManTranslateInternalCode(3), 0xF000000E);
    EXPECT_EQ(IoManTranslateInternalCode(6), 0xF0000011);
    EXPECT_EQ(IoManTranslateInternalCode(7), -1);
    EXPECT_EQ(IoManToServiceId(0), 0x03E80000u);
    EXPECT_EQ(IoManToServiceId(2), 0x03E80002u);
    EXPECT_EQ(IoManFromServiceId(0), 0x3E8u);
    EXPECT_EQ(IoManFromServiceId(1), 0x103E8u);
}

TEST(IoManagerCodesTest, OpenRefusesBadArgumentsAndStaysClosed) {
    CIoManager manager;
    auto callback = [](const IMM*, uint32_t, void*) {};
    EXPECT_EQ(manager.Open(callback, kNoAdapter, nullptr), 0);
    EXPECT_FALSE(manager.IsOpen());
    EXPECT_EQ(manager.Open(nullptr, 0, nullptr), 0);
    EXPECT_FALSE(manager.IsOpen());
    EXPECT_EQ(manager.AdapterIndex(), kNoAdapter);
    EXPECT_EQ(manager.LowCost(), 1);
    manager.SendEvent(0, 1, nullptr); // no bus: nothing happens
    EXPECT_FALSE(manager.IsAdapterAvailable());
}

} // namespace
