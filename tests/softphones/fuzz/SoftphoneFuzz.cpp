// Seeded fuzzing of what the EyeBeam and QQ clients read from their softphones: QQ's
// tag-length-value items (the reader alone, against a model of it, and whole messages
// through the client), and EyeBeam's records through the client. Every input ends where a
// no-access page begins, so a read one byte past it ends the run with the seed and the
// input in hand.
#include "softphone/eyebeam/EyebeamApiClient.h"
#include "softphone/qq/QQApiClient.h"
#include "tests/lib/fuzz/Fuzz.h"
#include "tests/lib/fuzz/GuardedPage.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Item(uint8_t tag, uint32_t length, const std::vector<uint8_t>& value) {
    std::vector<uint8_t> bytes(5);
    bytes[0] = tag;
    memcpy(&bytes[1], &length, 4);
    bytes.insert(bytes.end(), value.begin(), value.end());
    return bytes;
}

// Items, mostly well formed, now and then with a length past the data, a huge one, a text
// without its NUL, or a header cut short at the end.
std::vector<uint8_t> RandomItems(FuzzRandom& r, uint8_t firstTag, bool statusFirst) {
    std::vector<uint8_t> data;
    const uint32_t count = r.Range(0, 6);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t tag =
            i == 0 && statusFirst ? firstTag : (uint8_t)r.Pick<uint32_t>({8, 9, 10, 11, 12, 1, 3, 0, 255});
        std::vector<uint8_t> value;
        const uint32_t shape = r.Below(10);
        if (i == 0 && statusFirst && shape < 8) {
            value = {(uint8_t)r.Range(0, 12)};
        } else if (shape < 3) {
            value = r.Bytes(4);
        } else if (shape < 6) {
            value = r.Bytes(r.Range(0, 40));
            for (uint8_t& b : value) {
                b = (uint8_t)r.Range(0x20, 0x7E);
            }
            if (r.Percent(60)) {
                value.push_back(0);
            }
        } else {
            value = r.Bytes(r.Range(0, 64));
        }
        uint32_t length = (uint32_t)value.size();
        const uint32_t lie = r.Below(20);
        if (lie == 0) {
            length = 0xFFFFFFFFu - r.Below(8);
        } else if (lie == 1) {
            length += r.Range(1, 100);
        } else if (lie == 2 && length) {
            value.resize(r.Below(length));
        }
        const std::vector<uint8_t> item = Item(tag, length, value);
        data.insert(data.end(), item.begin(), item.end());
        if (lie <= 2) {
            break; // nothing can follow an item that lies about its length
        }
    }
    if (r.Percent(10)) {
        const std::vector<uint8_t> cut = r.Bytes(r.Range(1, 4));
        data.insert(data.end(), cut.begin(), cut.end());
    }
    return data;
}

// --- QQ's items, the reader alone ----------------------------------------------------------

TEST(SoftphoneFuzz, QQItemReaderAgainstItsModel) {
    FuzzRandom r = FuzzStream("qq item reader");
    const size_t cases = FuzzCases(20000);
    const ULONGLONG start = GetTickCount64();
    GuardedPage page;
    ASSERT_TRUE(page.Valid());
    size_t items = 0, overruns = 0, cutHeaders = 0;
    for (size_t i = 0; i < cases && !::testing::Test::HasFailure(); ++i) {
        const std::vector<uint8_t> data = RandomItems(r, 8, r.Percent(50));
        SCOPED_TRACE("case " + std::to_string(i) + " of seed " + std::to_string(FuzzSeed()) + ": " +
                     HexDump(data));
        FuzzSetCurrentCase("qq items case " + std::to_string(i) + ": " + HexDump(data, 64));
        const uint8_t* at = page.Place(data.data(), data.size());
        qq::CQQItemReader reader(at, data.size());
        size_t offset = 0; // the model: where the next item begins
        qq::ReadItem item;
        std::string fault;
        for (int guard = 0; guard < 100; ++guard) {
            const bool got = reader.Next(&item, &fault);
            const size_t left = data.size() - offset;
            if (left == 0) {
                EXPECT_FALSE(got);
                EXPECT_TRUE(fault.empty());
                break;
            }
            if (left < 5) {
                EXPECT_FALSE(got) << "a header cut short gives no item";
                EXPECT_FALSE(fault.empty());
                ++cutHeaders;
                break;
            }
            ASSERT_TRUE(got);
            ++items;
            uint32_t length;
            memcpy(&length, &data[offset + 1], 4);
            const size_t there = left - 5;
            EXPECT_EQ(item.tag, data[offset]);
            EXPECT_EQ(item.length, length);
            EXPECT_EQ(item.overruns, length > there);
            EXPECT_EQ(item.taken, std::min<size_t>(std::min<size_t>(length, there), 23));
            EXPECT_EQ(memcmp(item.value, &data[offset + 5], item.taken), 0);
            EXPECT_EQ(item.value[item.taken], 0) << "the value ends in a zero";
            EXPECT_LE(item.Text().size(), 23u);
            if (item.overruns) {
                ++overruns;
                EXPECT_FALSE(fault.empty());
                EXPECT_FALSE(reader.Next(&item, &fault)) << "nothing after an item that runs past the data";
                break;
            }
            offset += 5 + length;
        }
    }
    FuzzReport("QQ item reader", cases, FuzzSecondsSince(start),
               std::to_string(items) + " items, " + std::to_string(overruns) + " past the data, " +
                   std::to_string(cutHeaders) + " headers cut short");
}

// --- QQ's messages through the client ------------------------------------------------------

class WatchedQQ : public QQApiClient {
public:
    void ReportCallStatus(const IMM& record) override { reports.push_back(record); }
    void SendToService(int type, int code, int info, const char* buffer1, const char* buffer2,
                       const char* payload) override {
        ++others;
    }
    std::vector<IMM> reports;
    int others = 0;
};

TEST(SoftphoneFuzz, QQMessagesThroughTheClient) {
    FuzzRandom r = FuzzStream("qq messages");
    const size_t cases = FuzzCases(20000);
    const ULONGLONG start = GetTickCount64();
    GuardedPage page;
    ASSERT_TRUE(page.Valid());
    WatchedQQ client;
    size_t reported = 0, rings = 0;
    const uint32_t events[] = {19, 19, 19, 19, 17, 18, 20, 10, 12};
    for (size_t i = 0; i < cases && !::testing::Test::HasFailure(); ++i) {
        const uint32_t event = r.Percent(90) ? r.Pick(events) : r.U32();
        const std::vector<uint8_t> data = RandomItems(r, r.Percent(85) ? 8 : (uint8_t)r.U32(), true);
        SCOPED_TRACE("case " + std::to_string(i) + " of seed " + std::to_string(FuzzSeed()) + ": event " +
                     std::to_string(event) + ", " + HexDump(data));
        FuzzSetCurrentCase("qq message case " + std::to_string(i) + ": " + HexDump(data, 64));
        COPYDATASTRUCT copy = {event, (DWORD)data.size(),
                               data.empty() ? nullptr : page.Place(data.data(), data.size())};
        client.reports.clear();
        client.OnApiServerMessage(&copy);
        ASSERT_LE(client.reports.size(), 1u) << "one report at most for one message";
        const int state = client.Session().m_nState;
        EXPECT_TRUE(state >= 2 && state <= 13 && state != 6 && state != 11 && state != 13)
            << "state " << state;
        if (client.reports.empty()) {
            continue;
        }
        ++reported;
        const IMM& report = client.reports[0];
        EXPECT_EQ(event, 19u);
        EXPECT_EQ(report.Type, 0);
        EXPECT_EQ(report.Code, state);
        EXPECT_EQ(report.Info, client.Session().m_nCallId);
        EXPECT_LE(strnlen(report.Buffer1, sizeof report.Buffer1), 23u) << "at most 23 bytes of a text";
        EXPECT_EQ(std::string(report.Buffer3, 32), std::string(32, '\0'));
        EXPECT_EQ(std::string(report.Payload, 512), std::string(512, '\0'));
        if (data.size() >= 6 && data[0] == 8 && data[5] == 2) {
            ++rings;
            EXPECT_EQ(report.Code, 4);
        }
    }
    FuzzReport("QQ messages through the client", cases, FuzzSecondsSince(start),
               std::to_string(reported) + " reported to the service, " + std::to_string(rings) + " rings");
}

// --- EyeBeam's records through the client --------------------------------------------------

class WatchedEyebeam : public CEyebeamApiClient {
public:
    void SendToService(int type, int code, int info, const char* buffer1, const char* buffer2,
                       const char* payload) override {
        sent.push_back({type, code, info});
    }
    void SendEventToSoftphone(int type, int code, int info) override {}
    std::vector<std::vector<int>> sent;
};

// What the client must do with a record, from its description: the state and what the
// service hears.
struct EyebeamModel {
    int state = 9;
    int callId = 0;
    std::vector<std::vector<int>> Take(int32_t type, int32_t event) {
        std::vector<std::vector<int>> sent;
        auto switchTo = [&](int s) {
            if (s >= 2 && s <= 13 && s != 6) {
                state = (s == 11 || s == 13) ? 9 : s;
            }
        };
        bool forward = false;
        if (type == 0 && event == 4) {
            callId = 1000;
            switchTo(4);
            forward = true;
        } else if (type == 0 && event >= 0 && event <= 13) {
            switchTo(event);
            forward = true;
        }
        if (event == 900 && (state == 2 || state == 4)) {
            switchTo(state == 2 ? 5 : 9);
            sent.push_back({type, state, callId});
        }
        if (forward) {
            sent.push_back({type, state, callId});
        }
        return sent;
    }
};

TEST(SoftphoneFuzz, EyeBeamRecordsThroughTheClient) {
    FuzzRandom r = FuzzStream("eyebeam records");
    const size_t cases = FuzzCases(20000);
    const ULONGLONG start = GetTickCount64();
    GuardedPage page;
    ASSERT_TRUE(page.Valid());
    WatchedEyebeam client;
    EyebeamModel model;
    size_t ignored = 0, forwarded = 0;
    const int32_t events[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 12, 13, 14, 100, 900, 900, -1};
    for (size_t i = 0; i < cases && !::testing::Test::HasFailure(); ++i) {
        const uint32_t sizeRoll = r.Below(10);
        const size_t size = sizeRoll < 3 ? r.Below(8) : sizeRoll < 8 ? 620 : r.Range(8, 1200);
        std::vector<uint8_t> record = r.Bytes(size);
        const int32_t type = r.Percent(80) ? (int32_t)r.Below(2) : (int32_t)r.U32();
        const int32_t event = r.Percent(85) ? r.Pick(events) : (int32_t)r.U32();
        memcpy(record.data(), &type, std::min<size_t>(4, size));
        if (size > 4) {
            memcpy(record.data() + 4, &event, std::min<size_t>(4, size - 4));
        }
        SCOPED_TRACE("case " + std::to_string(i) + " of seed " + std::to_string(FuzzSeed()) + ": " +
                     HexDump(record, 16));
        FuzzSetCurrentCase("eyebeam record case " + std::to_string(i) + ": " + HexDump(record, 16));
        COPYDATASTRUCT copy = {0, (DWORD)size, size ? page.Place(record.data(), size) : nullptr};
        client.sent.clear();
        client.OnApiServerMessage(&copy);
        const std::vector<std::vector<int>> expected =
            size < 8 ? std::vector<std::vector<int>>{} : model.Take(type, event);
        ignored += size < 8 ? 1 : 0;
        forwarded += expected.size();
        EXPECT_EQ(client.sent, expected);
        EXPECT_EQ(client.Session().m_nState, model.state);
        EXPECT_EQ(client.Session().m_nCallId, model.callId);
    }
    FuzzReport("EyeBeam records through the client", cases, FuzzSecondsSince(start),
               std::to_string(ignored) + " shorter than 8 bytes ignored, " + std::to_string(forwarded) +
                   " messages to the service");
}

} // namespace
