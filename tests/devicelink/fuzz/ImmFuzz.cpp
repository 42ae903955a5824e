// IMM unpacking fed fuzzed presence flags against fuzzed data lengths: directly, with every
// input ending where a no-access page begins, and through the I/O manager's receive path
// over a "VCORE\IOMAN" served by the test.
#include "devicelink/IoManager.h"
#include "tests/lib/fuzz/Fuzz.h"
#include "FuzzPipeServer.h"
#include "tests/lib/fuzz/GuardedPage.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kHeaderSize = 28;
constexpr size_t kImmSize = 620;

// The packed form's parts: flag, offset in the IMM, bytes. The extra value (flag 0x10,
// 4 bytes) comes last.
struct PartLayout {
    uint32_t flag;
    size_t offset;
    size_t size;
};
const PartLayout kParts[] = {{0x01, 12, 32}, {0x02, 44, 32}, {0x04, 76, 32}, {0x08, 108, 512}};
constexpr uint32_t kExtraFlag = 0x10;

uint32_t NeededBytes(uint32_t flags) {
    uint32_t needed = 0;
    for (const PartLayout& part : kParts) {
        needed += (flags & part.flag) ? (uint32_t)part.size : 0;
    }
    return needed + ((flags & kExtraFlag) ? 4 : 0);
}

uint32_t Field(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t value;
    memcpy(&value, bytes.data() + offset, 4);
    return value;
}

// What unpacking a message must give: true with the IMM (and the extra value when flagged
// and wanted), or false for a message whose data are shorter than its flags announce. A
// header-only message carries Type, Code and Info and no part, whatever its flags say.
bool Unpacked(const std::vector<uint8_t>& content, uint8_t imm[kImmSize], bool* hasExtra, uint32_t* extra) {
    memset(imm, 0, kImmSize);
    *hasExtra = false;
    memcpy(imm, content.data() + 12, 12); // Type, Code, Info from Param 0..2
    const uint32_t size = Field(content, 0);
    if (size <= kHeaderSize) {
        return true;
    }
    const uint32_t flags = Field(content, 24);
    if (size - kHeaderSize < NeededBytes(flags)) {
        memset(imm, 0, kImmSize);
        return false;
    }
    size_t at = kHeaderSize;
    for (const PartLayout& part : kParts) {
        if (flags & part.flag) {
            memcpy(imm + part.offset, content.data() + at, part.size);
            at += part.size;
        }
    }
    if (flags & kExtraFlag) {
        *hasExtra = true;
        memcpy(extra, content.data() + at, 4);
    }
    return true;
}

// Random flags, and a data length that is often just right, one short or one over.
std::vector<uint8_t> RandomPacked(FuzzRandom& r, uint32_t id, uint32_t kind, size_t longestData) {
    uint32_t flags;
    const uint32_t roll = r.Below(10);
    flags = roll < 6 ? r.Below(32) : roll < 8 ? r.U32() : roll < 9 ? 0 : 0x1F;
    const uint32_t needed = NeededBytes(flags);
    uint32_t length;
    switch (r.Below(8)) {
    case 0:
    case 1:
        length = needed;
        break;
    case 2:
        length = needed ? needed - 1 : 0;
        break;
    case 3:
        length = needed + r.Range(1, 8);
        break;
    case 4:
        length = r.Range(0, needed);
        break;
    case 5:
        length = 0;
        break;
    default:
        length = r.Range(0, 700);
        break;
    }
    if (length > longestData) {
        length = (uint32_t)longestData;
    }
    std::vector<uint8_t> content(kHeaderSize + length);
    const uint32_t header[7] = {kHeaderSize + length, id, kind, r.U32(), r.U32(), r.U32(), flags};
    memcpy(content.data(), header, kHeaderSize);
    if (r.Percent(80)) {
        r.Fill(content.data() + kHeaderSize, length);
    }
    // Now and then a present part that is all zero, which packing would have left out.
    if (length >= 32 && r.Percent(15)) {
        memset(content.data() + kHeaderSize, 0, 32);
    }
    // And a header-only message whose Size says less than a header.
    if (!length && r.Percent(20)) {
        const uint32_t small = r.Below(kHeaderSize);
        memcpy(content.data(), &small, 4);
    }
    return content;
}

// An IMM with each part absent, full, set in one byte only (presence must look at every
// byte) or holding a text.
void RandomImm(FuzzRandom& r, uint8_t imm[kImmSize]) {
    memset(imm, 0, kImmSize);
    r.Fill(imm, 12);
    for (const PartLayout& part : kParts) {
        uint8_t* at = imm + part.offset;
        switch (r.Below(5)) {
        case 0:
        case 1:
            break;
        case 2:
            r.Fill(at, part.size);
            break;
        case 3:
            at[r.Percent(50) ? part.size - 1 : r.Below((uint32_t)part.size)] = (uint8_t)r.Range(1, 255);
            break;
        default: {
            const uint32_t length = r.Range(1, (uint32_t)part.size - 1);
            for (uint32_t i = 0; i < length; ++i) {
                at[i] = (uint8_t)r.Range(' ', '~');
            }
            break;
        }
        }
    }
}

bool AllZero(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i]) {
            return false;
        }
    }
    return true;
}

class ImmPages {
public:
    bool Valid() const { return content.Valid() && imm.Valid() && extra.Valid() && source.Valid(); }
    GuardedPage content; // the packed message
    GuardedPage imm;     // the IMM written by unpacking
    GuardedPage extra;   // the extra value written by unpacking, or read by packing
    GuardedPage source;  // the IMM read by packing
};

constexpr uint32_t kUntouched = 0xDEADBEEF;

TEST(DeviceLinkFuzz, ImmUnpacking) {
    FuzzRandom r = FuzzStream("imm unpacking");
    ImmPages pages;
    ASSERT_TRUE(pages.Valid()) << "no guarded pages";
    iBusImplementation impl{};
    ASSERT_EQ(iBusPollingImplementationCreate(&impl, 0), kStatusOk);
    iBus* bus = iBusCreate(&impl);
    ASSERT_NE(bus, nullptr);
    const long liveBefore = iBusGetLiveMessageCount();
    FuzzBudget unpackBudget(60000);
    const ULONGLONG start = GetTickCount64();
    size_t refused = 0, headerOnly = 0, roundTrips = 0;

    // A packed message in, an IMM out: each unpacked into memory that faults right after it.
    auto unpack = [&](const std::vector<uint8_t>& content, bool wantExtra, uint8_t* immOut,
                      uint32_t* extraOut) {
        const auto* at =
            reinterpret_cast<const iBusMessage*>(pages.content.Place(content.data(), content.size()));
        uint8_t* out = pages.imm.Tail(kImmSize, 0xEE);
        uint32_t* extra = reinterpret_cast<uint32_t*>(pages.extra.Tail(4, 0));
        *extra = kUntouched;
        const int result =
            iBusInterMessageConvertBusToIMM(at, reinterpret_cast<IMM*>(out), wantExtra ? extra : nullptr);
        memcpy(immOut, out, kImmSize);
        *extraOut = *extra;
        return result;
    };

    while (unpackBudget.More() && !::testing::Test::HasFailure()) {
        const size_t i = unpackBudget.Done() - 1;
        const std::vector<uint8_t> content =
            RandomPacked(r, r.U32(), 3, pages.content.Capacity() - kHeaderSize);
        const bool wantExtra = r.Percent(50);
        SCOPED_TRACE("unpacking case " + std::to_string(i) + " of seed " + std::to_string(FuzzSeed()) +
                     (wantExtra ? ", extra wanted" : "") + ": " + HexDump(content, 64));
        FuzzSetCurrentCase("imm unpack case " + std::to_string(i) + ": " + HexDump(content, 64));

        uint8_t expected[kImmSize];
        bool hasExtra = false;
        uint32_t expectedExtra = 0;
        const bool accepted = Unpacked(content, expected, &hasExtra, &expectedExtra);
        uint8_t got[kImmSize];
        uint32_t gotExtra = 0;
        const int result = unpack(content, wantExtra, got, &gotExtra);
        EXPECT_EQ(result, accepted ? 1 : 0) << (accepted ? "a message with its data refused"
                                                         : "data shorter than the flags announce accepted");
        EXPECT_EQ(memcmp(got, expected, kImmSize), 0) << "the IMM unpacked";
        EXPECT_EQ(gotExtra, accepted && hasExtra && wantExtra ? expectedExtra : kUntouched)
            << "the extra value";
        if (!accepted) {
            ++refused;
            continue;
        }
        headerOnly += Field(content, 0) <= kHeaderSize ? 1 : 0;

        // What came out goes back in, and comes out the same again.
        uint8_t* source = pages.source.Place(got, kImmSize);
        const bool passExtra = hasExtra && wantExtra;
        uint32_t* extraIn = reinterpret_cast<uint32_t*>(pages.extra.Tail(4, 0));
        *extraIn = gotExtra;
        iBusMessageRecord* record = iBusInterMessageConvertIMMToBus(
            bus, Field(content, 4), 3, passExtra ? extraIn : nullptr, reinterpret_cast<const IMM*>(source));
        ASSERT_NE(record, nullptr);
        const iBusMessage* repacked = iBusGetMessageContent(bus, record);
        std::vector<uint8_t> again(reinterpret_cast<const uint8_t*>(repacked),
                                   reinterpret_cast<const uint8_t*>(repacked) + repacked->Size);
        iBusReleaseMessage(bus, record);
        uint32_t presence = passExtra ? kExtraFlag : 0;
        for (const PartLayout& part : kParts) {
            presence |= AllZero(got + part.offset, part.size) ? 0 : part.flag;
        }
        EXPECT_EQ(Field(again, 24), presence) << "presence flags of the packed IMM";
        ASSERT_EQ(again.size(), kHeaderSize + NeededBytes(presence)) << "size of the packed IMM";
        uint8_t back[kImmSize];
        uint32_t backExtra = 0;
        EXPECT_EQ(unpack(again, true, back, &backExtra), 1);
        EXPECT_EQ(memcmp(back, got, kImmSize), 0) << "the IMM after a round trip";
        EXPECT_EQ(backExtra, passExtra ? gotExtra : kUntouched);
        // A message packed the way the agent packs comes back byte for byte.
        const uint32_t flags = Field(content, 24);
        const bool canonical = Field(content, 0) > kHeaderSize && flags == presence &&
                               content.size() == kHeaderSize + NeededBytes(flags);
        if (canonical) {
            EXPECT_TRUE(again == content) << "repacked: " << HexDump(again, 64);
        }
        ++roundTrips;
    }

    FuzzBudget packBudget(15000);
    while (packBudget.More() && !::testing::Test::HasFailure()) {
        const size_t i = packBudget.Done() - 1;
        uint8_t imm[kImmSize];
        RandomImm(r, imm);
        const bool withExtra = r.Percent(50);
        const uint32_t extraValue = r.U32();
        SCOPED_TRACE("packing case " + std::to_string(i) + " of seed " + std::to_string(FuzzSeed()) + ": " +
                     HexDump(imm, kImmSize, 64));
        FuzzSetCurrentCase("imm pack case " + std::to_string(i));
        uint8_t* source = pages.source.Place(imm, kImmSize);
        uint32_t* extraIn = reinterpret_cast<uint32_t*>(pages.extra.Tail(4, 0));
        *extraIn = extraValue;
        iBusMessageRecord* record = iBusInterMessageConvertIMMToBus(bus, 7, 3, withExtra ? extraIn : nullptr,
                                                                    reinterpret_cast<const IMM*>(source));
        ASSERT_NE(record, nullptr);
        const iBusMessage* packed = iBusGetMessageContent(bus, record);
        std::vector<uint8_t> content(reinterpret_cast<const uint8_t*>(packed),
                                     reinterpret_cast<const uint8_t*>(packed) + packed->Size);
        iBusReleaseMessage(bus, record);
        uint32_t presence = withExtra ? kExtraFlag : 0;
        for (const PartLayout& part : kParts) {
            presence |= AllZero(imm + part.offset, part.size) ? 0 : part.flag;
        }
        EXPECT_EQ(Field(content, 24), presence);
        ASSERT_EQ(content.size(), kHeaderSize + NeededBytes(presence));
        uint8_t back[kImmSize];
        uint32_t backExtra = 0;
        EXPECT_EQ(unpack(content, true, back, &backExtra), 1);
        EXPECT_EQ(memcmp(back, imm, kImmSize), 0) << "the IMM after a round trip";
        EXPECT_EQ(backExtra, withExtra ? extraValue : kUntouched);
    }

    iBusDestroy(bus);
    iBusPollingImplementationDestroy(&impl);
    EXPECT_EQ(iBusGetLiveMessageCount(), liveBefore) << "message records leaked";
    FuzzReport("IMM unpacking", unpackBudget.Done() + packBudget.Done(), FuzzSecondsSince(start),
               std::to_string(unpackBudget.Done()) + " unpacked (" + std::to_string(refused) + " refused, " +
                   std::to_string(headerOnly) + " header only, " + std::to_string(roundTrips) +
                   " round trips), " + std::to_string(packBudget.Done()) + " packed and unpacked");
}

// --- The I/O manager's receive path ------------------------------------------------------

struct Collected {
    std::mutex mutex;
    std::vector<IMM> events;
};

void OnEvent(const IMM* message, uint32_t length, void* data) {
    Collected* collected = static_cast<Collected*>(data);
    std::lock_guard<std::mutex> lock(collected->mutex);
    if (length == sizeof(IMM)) {
        collected->events.push_back(*message);
    }
}

template <typename Condition> bool WaitFor(Condition condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(2);
    }
    return true;
}

constexpr int32_t kMarkerType = 0x5EED;

TEST(DeviceLinkFuzz, IoManagerReceivePath) {
    FuzzRandom r = FuzzStream("io manager receive path");
    const long liveBefore = iBusGetLiveMessageCount();
    FuzzBudget budget(40);
    const ULONGLONG start = GetTickCount64();
    const uint32_t fromService = 0x000003E8; // adapter 0
    const uint32_t otherIds[] = {0x000103E8, 0x03E80000, 0x03E8};
    size_t sent = 0, deliveredCount = 0, refused = 0, reconnects = 0;
    {
        FuzzPipeServer server("VCORE\\IOMAN");
        ASSERT_TRUE(server.BeginAccept());
        Collected collected;
        CIoManager manager;
        ASSERT_EQ(manager.Open(OnEvent, 0, &collected), 1);
        ASSERT_TRUE(server.FinishAccept(5000));
        ASSERT_EQ(server.Read(4, 5000), (std::vector<uint8_t>{0, 0, 0, 0}));
        ASSERT_TRUE(WaitFor([&] { return manager.Phase() == 3; }, 5000));
        int lowCost = manager.LowCost();

        while (budget.More() && !::testing::Test::HasFailure()) {
            const size_t b = budget.Done() - 1;
            std::vector<uint8_t> stream;
            std::vector<std::vector<uint8_t>> expected; // the IMMs the owner must get, in order
            const uint32_t count = r.Range(5, 25);
            for (uint32_t m = 0; m < count; ++m) {
                const uint32_t roll = r.Below(100);
                std::vector<uint8_t> message;
                if (roll < 65) {
                    message = RandomPacked(r, fromService, 3, 1024);
                    // A Size below a header's would break the stream: the bridge's matter.
                    const uint32_t size = (uint32_t)message.size();
                    memcpy(message.data(), &size, 4);
                    uint8_t imm[kImmSize];
                    bool hasExtra;
                    uint32_t extra;
                    if (Unpacked(message, imm, &hasExtra, &extra)) {
                        expected.emplace_back(imm, imm + kImmSize);
                    } else {
                        ++refused;
                    }
                } else {
                    const uint32_t id = roll < 80 ? fromService : r.Pick(otherIds);
                    const uint32_t kind = roll < 75 ? 1 : roll < 85 ? 2 : roll < 90 ? r.U32() : 3;
                    message = RandomPacked(r, id, kind, 64);
                    const uint32_t size = (uint32_t)message.size();
                    memcpy(message.data(), &size, 4);
                    if (id == fromService && kind == 1) {
                        lowCost = Field(message, 12) ? 1 : 0;
                    }
                    if (id == fromService && kind == 3) {
                        uint8_t imm[kImmSize];
                        bool hasExtra;
                        uint32_t extra;
                        if (Unpacked(message, imm, &hasExtra, &extra)) {
                            expected.emplace_back(imm, imm + kImmSize);
                        }
                    }
                }
                stream.insert(stream.end(), message.begin(), message.end());
            }
            // The marker closes the batch: once the owner has it, it has had all before it.
            // Now and then the batch ends in a header of impossible size instead, and what
            // follows it must never arrive: the manager drops the connection and greets anew.
            const bool breaks = r.Percent(12);
            const size_t breakAt = stream.size();
            const uint32_t impossibleSizes[] = {0, 1, 27, 28 + 1024 + 1, 0x7FFFFFFF, 0xFFFFFFFF};
            const uint32_t marker[7] = {kHeaderSize, fromService, 3, (uint32_t)kMarkerType,
                                        (uint32_t)b, 0,           0};
            if (breaks) {
                uint32_t header[7] = {r.Pick(impossibleSizes), fromService, 3, 0, 0, 0, 0};
                stream.insert(stream.end(), reinterpret_cast<const uint8_t*>(header),
                              reinterpret_cast<const uint8_t*>(header) + kHeaderSize);
            }
            stream.insert(stream.end(), reinterpret_cast<const uint8_t*>(marker),
                          reinterpret_cast<const uint8_t*>(marker) + kHeaderSize);
            sent += count;
            SCOPED_TRACE("batch " + std::to_string(b) + " of seed " + std::to_string(FuzzSeed()) +
                         (breaks ? " (breaks at " + std::to_string(breakAt) + ")" : "") + ": " +
                         HexDump(stream));
            FuzzSetCurrentCase("io manager batch " + std::to_string(b) + ": " + HexDump(stream, 64));

            for (size_t at = 0; at < stream.size();) {
                size_t length = r.Percent(30) ? stream.size() - at : r.Range(1, 400);
                length = length < stream.size() - at ? length : stream.size() - at;
                // Past the breaking header nobody need read what the service writes.
                const bool pastBreak = breaks && at + length > breakAt + kHeaderSize;
                if (!server.Write(stream.data() + at, length, pastBreak ? 1000 : 5000)) {
                    ASSERT_TRUE(pastBreak) << "the agent stopped taking bytes";
                    break;
                }
                at += length;
            }
            std::vector<IMM> events;
            if (breaks) {
                ASSERT_TRUE(WaitFor(
                    [&] {
                        std::lock_guard<std::mutex> lock(collected.mutex);
                        return collected.events.size() >= expected.size();
                    },
                    5000))
                    << "messages before the break did not all reach the owner";
                ASSERT_TRUE(WaitFor([&] { return !server.ClientPresent(); }, 5000))
                    << "the manager kept a connection whose stream broke";
                server.Drop();
                ASSERT_TRUE(server.Accept(5000)) << "the manager did not connect again";
                ASSERT_EQ(server.Read(4, 5000), (std::vector<uint8_t>{0, 0, 0, 0})) << "the greeting";
                ASSERT_TRUE(WaitFor([&] { return manager.Phase() == 3; }, 5000));
                ++reconnects;
                std::lock_guard<std::mutex> lock(collected.mutex);
                events.swap(collected.events);
            } else {
                ASSERT_TRUE(WaitFor(
                    [&] {
                        std::lock_guard<std::mutex> lock(collected.mutex);
                        return !collected.events.empty() && collected.events.back().Type == kMarkerType &&
                               collected.events.back().Code == (int32_t)b;
                    },
                    5000))
                    << "the batch's marker never reached the owner";
                {
                    std::lock_guard<std::mutex> lock(collected.mutex);
                    events.swap(collected.events);
                }
                events.pop_back();
            }
            EXPECT_EQ(events.size(), expected.size()) << "events the owner got";
            for (size_t i = 0; i < events.size() && i < expected.size(); ++i) {
                EXPECT_EQ(memcmp(&events[i], expected[i].data(), kImmSize), 0) << "event " << i;
            }
            deliveredCount += events.size();
            EXPECT_EQ(manager.LowCost(), lowCost) << "LowCost after the batch";
            if (!breaks) {
                EXPECT_EQ(manager.Phase(), 3) << "a refused message must not cost the connection";
                EXPECT_TRUE(server.ClientPresent()) << "a refused message must not cost the connection";
            }
        }
        manager.Close();
    }
    EXPECT_EQ(iBusGetLiveMessageCount(), liveBefore) << "message records leaked";
    FuzzReport("I/O manager receive path", budget.Done(), FuzzSecondsSince(start),
               std::to_string(sent) + " messages sent, " + std::to_string(deliveredCount) +
                   " events delivered, " + std::to_string(refused) + " short IMMs refused, " +
                   std::to_string(reconnects) + " broken streams reconnected");
}

} // namespace
