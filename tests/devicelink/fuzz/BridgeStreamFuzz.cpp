// The bridge's pipe-to-bus framing fed fuzzed streams through a real named pipe: messages
// with garbage between them, impossible sizes, and every way of cutting the bytes into
// writes. A subscribed bus client collects what the bridge posts; a model of the framing
// says what that must be.
#include "base/trace/Trace.h"
#include "devicelink/iBusNPBridge.h"
#include "tests/lib/fuzz/Fuzz.h"
#include "FuzzPipeServer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kHeaderSize = 28;
// The largest message the agent takes in: its data must fit the pipe's 1024-byte IN FIFO
// once the header has been taken out.
constexpr uint32_t kLargestIncoming = 28 + 1024;

// Ids the collecting client subscribes to, and ids no client on the bus knows.
const uint32_t kSubscribedIds[] = {0x000003E8, 0x000103E8, 0x03E80000};
const uint32_t kUnknownIds[] = {0x000203E8, 0, 0xFFFFFFFF};
// What the bridge sends to the pipe; nothing is posted under it in these tests.
constexpr uint32_t kToPipeId = 0x03E80004;
// Posted on the bus by the test after a stream: once it is delivered, so is everything the
// bridge posted before it.
constexpr uint32_t kMarkerId = 0x5EED03E8;

const uint32_t kImpossibleSizes[] = {
    0,       1,          4,          27,        kLargestIncoming + 1, kLargestIncoming + 2, 2048,
    0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};

const char* const kTraceKey = "Software\\Velcora\\Quendo";

struct Message {
    uint32_t id = 0;
    uint32_t kind = 0;
    uint32_t params[4] = {};
    std::vector<uint8_t> data;
    bool operator==(const Message&) const = default;
};

std::vector<uint8_t> WireOf(const Message& m) {
    std::vector<uint8_t> bytes(kHeaderSize + m.data.size());
    const uint32_t header[7] = {
        (uint32_t)bytes.size(), m.id, m.kind, m.params[0], m.params[1], m.params[2], m.params[3]};
    memcpy(bytes.data(), header, kHeaderSize);
    if (!m.data.empty()) {
        memcpy(bytes.data() + kHeaderSize, m.data.data(), m.data.size());
    }
    return bytes;
}

std::string Describe(const Message& m) {
    char text[160];
    snprintf(text, sizeof text, "id 0x%x kind 0x%x params 0x%x 0x%x 0x%x 0x%x, %zu data bytes", m.id, m.kind,
             m.params[0], m.params[1], m.params[2], m.params[3], m.data.size());
    return text;
}

bool Subscribed(uint32_t id) {
    for (uint32_t subscribed : kSubscribedIds) {
        if (id == subscribed) {
            return true;
        }
    }
    return false;
}

// What the pipe-to-bus direction must make of a stream that starts a connection: messages
// framed by their Size one after the other; a Size below the header's or above the largest
// incoming one ends the stream for good; a tail shorter than its message waits.
struct Framing {
    std::vector<Message> messages;
    bool broken = false;
    size_t brokenAt = 0; // offset of the header that broke the stream
    size_t framed = 0;   // bytes taken by whole messages
};

Framing FrameStream(const std::vector<uint8_t>& stream) {
    Framing framing;
    size_t at = 0;
    while (stream.size() - at >= kHeaderSize) {
        uint32_t header[7];
        memcpy(header, stream.data() + at, kHeaderSize);
        const uint32_t size = header[0];
        if (size < kHeaderSize || size > kLargestIncoming) {
            framing.broken = true;
            framing.brokenAt = at;
            break;
        }
        if (stream.size() - at < size) {
            break;
        }
        Message m;
        m.id = header[1];
        m.kind = header[2];
        memcpy(m.params, header + 3, sizeof m.params);
        m.data.assign(stream.begin() + at + kHeaderSize, stream.begin() + at + size);
        framing.messages.push_back(std::move(m));
        at += size;
    }
    framing.framed = at;
    return framing;
}

struct Stream {
    std::vector<uint8_t> bytes;
    std::string recipe; // how it was made, for a failure report
};

void Append(Stream& s, const std::vector<uint8_t>& bytes, const std::string& what) {
    s.bytes.insert(s.bytes.end(), bytes.begin(), bytes.end());
    s.recipe += (s.recipe.empty() ? "" : " + ") + what;
}

Message RandomMessage(FuzzRandom& r, uint32_t longest) {
    Message m;
    m.id = r.Percent(85) ? r.Pick(kSubscribedIds) : r.Pick(kUnknownIds);
    m.kind = r.Percent(80) ? r.Range(1, 3) : r.U32();
    for (uint32_t& param : m.params) {
        param = r.Percent(50) ? r.Below(8) : r.U32();
    }
    uint32_t length = 0;
    switch (r.Below(10)) {
    case 0:
    case 1:
        break;
    case 2:
    case 3:
    case 4:
        length = r.Range(1, 32);
        break;
    case 5:
    case 6:
        length = r.Range(33, 300);
        break;
    case 7:
    case 8:
        length = r.Range(301, 1023);
        break;
    default:
        length = 1024; // the largest: fills the IN FIFO exactly
        break;
    }
    m.data = r.Bytes(length < longest ? length : longest);
    return m;
}

// Bytes that are no message, as a confused or hostile writer might send them.
void AppendGarbage(FuzzRandom& r, Stream& s) {
    switch (r.Below(4)) {
    case 0: {
        const uint32_t count = r.Range(1, 80);
        Append(s, r.Bytes(count), "random(" + std::to_string(count) + ")");
        break;
    }
    case 1: {
        const uint32_t count = r.Range(1, 40);
        Append(s, std::vector<uint8_t>(count, 0), "zeros(" + std::to_string(count) + ")");
        break;
    }
    case 2: {
        static const char* const kTexts[] = {"RING\r\n", "AT+VCORE?\r\n", "\xff\xfe<?xml?>", "OK"};
        const char* text = r.Pick(kTexts);
        Append(s, std::vector<uint8_t>(text, text + strlen(text)), "text");
        break;
    }
    default: {
        // A header whose possible size swallows whatever follows it.
        std::vector<uint8_t> header = r.Bytes(kHeaderSize);
        const uint32_t size = r.Range(kHeaderSize, kLargestIncoming);
        memcpy(header.data(), &size, 4);
        Append(s, header, "swallowing header(" + std::to_string(size) + ")");
        break;
    }
    }
}

void AppendImpossibleHeader(FuzzRandom& r, Stream& s, uint32_t* sizeOut = nullptr) {
    std::vector<uint8_t> header = r.Bytes(kHeaderSize);
    uint32_t size = r.Pick(kImpossibleSizes);
    if (r.Percent(30)) {
        size = r.Percent(50) ? r.Below(kHeaderSize) : r.Range(kLargestIncoming + 1, 0xFFFFFFFF);
    }
    memcpy(header.data(), &size, 4);
    if (r.Percent(50)) {
        memcpy(header.data() + 4, &kSubscribedIds[0], 4); // otherwise a well-formed message
    }
    char what[48];
    snprintf(what, sizeof what, "impossible size(0x%x)", size);
    Append(s, header, what);
    if (sizeOut) {
        *sizeOut = size;
    }
}

enum class StreamKind { kClean, kGarbage, kImpossible, kTruncated };

Stream MakeStream(FuzzRandom& r, StreamKind kind) {
    Stream s;
    const uint32_t count = r.Range(1, 6);
    const uint32_t breakBefore = r.Range(0, count);
    for (uint32_t i = 0; i <= count; ++i) {
        if (kind == StreamKind::kGarbage && r.Percent(35)) {
            AppendGarbage(r, s);
        }
        if (kind == StreamKind::kImpossible && i == breakBefore) {
            AppendImpossibleHeader(r, s);
        }
        if (i == count) {
            break;
        }
        // What follows a break is only there to be ignored: keep it short, so it never
        // fills the pipe of a reader that has stopped.
        const bool afterBreak = kind == StreamKind::kImpossible && i >= breakBefore;
        const Message m = RandomMessage(r, afterBreak ? 200 : 1024);
        Append(s, WireOf(m), "message(" + std::to_string(m.data.size()) + ")");
    }
    if (kind == StreamKind::kGarbage && r.Percent(50)) {
        AppendGarbage(r, s);
    }
    if (kind == StreamKind::kTruncated) {
        const Message m = RandomMessage(r, 1024);
        std::vector<uint8_t> wire = WireOf(m);
        wire.resize(r.Range(1, (uint32_t)wire.size() - 1));
        Append(s, wire,
               "cut message(" + std::to_string(wire.size()) + " of " +
                   std::to_string(kHeaderSize + m.data.size()) + ")");
    }
    return s;
}

enum class Cut { kWhole, kEveryByte, kChunks };

const char* CutName(Cut cut) {
    return cut == Cut::kWhole ? "one write" : cut == Cut::kEveryByte ? "a write per byte" : "random chunks";
}

// A polling bus with a collecting client, a pipe client and a bridge, joined to a pipe
// served by the test, reconnected the way the I/O manager does it.
class BridgeRig {
public:
    BridgeRig()
        : m_name("OrvinFuzz\\Bridge" + std::to_string(GetCurrentProcessId())),
          m_server(std::make_unique<FuzzPipeServer>(m_name)) {}
    ~BridgeRig() {
        if (m_bridge) {
            iBusNPBridgeStop(m_bridge);
        }
        if (m_pipe) {
            NPipeClose(m_pipe);
        }
        iBusNPBridgeDestroy(m_bridge);
        NPipeDestroy(m_pipe);
        if (m_bus) {
            iBusUnregisterClient(m_bus, m_client);
            m_impl.Stop(m_impl.context);
            iBusDestroy(m_bus);
        }
        iBusPollingImplementationDestroy(&m_impl);
        free(m_fullName);
    }

    void Start() {
        ASSERT_TRUE(m_server->Listening());
        ASSERT_EQ(iBusPollingImplementationCreate(&m_impl, 5), kStatusOk);
        m_bus = iBusCreate(&m_impl);
        ASSERT_NE(m_bus, nullptr);
        ASSERT_EQ(iBusStart(m_bus), 1);
        uint32_t ids[sizeof kSubscribedIds / sizeof kSubscribedIds[0] + 1];
        memcpy(ids, kSubscribedIds, sizeof kSubscribedIds);
        ids[sizeof kSubscribedIds / sizeof kSubscribedIds[0]] = kMarkerId;
        const iBusClientDescription description = {this, &BridgeRig::OnMessage};
        m_client = iBusRegisterClient(m_bus, &description, ids, sizeof ids / sizeof ids[0]);
        ASSERT_NE(m_client, nullptr);
        m_pipe = NPipeCreate();
        m_bridge = iBusNPBridgeCreate();
        m_fullName = NPipeMakeName(nullptr, m_name.c_str());
        ASSERT_TRUE(m_pipe && m_bridge && m_fullName);
        Connect();
    }

    // As the I/O manager after a lost connection: stop the bridge, connect afresh, start
    // clean. The server drops its end first, as a service that restarts would.
    void Reconnect() {
        iBusNPBridgeStop(m_bridge);
        m_server->Drop();
        Connect();
        ++m_reconnects;
    }

    // Sends one stream cut as `cut` says; returns what the bus delivered for it.
    std::vector<Message> Run(const Stream& stream, const Framing& framing, Cut cut, FuzzRandom& r) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_arrived.clear();
            m_markerSeen = false;
        }
        Feed(stream, framing, cut, r);
        std::vector<Message> expected;
        for (const Message& m : framing.messages) {
            if (Subscribed(m.id)) {
                expected.push_back(m);
            }
        }
        const bool settled = WaitFor(
            [&] {
                if (Arrived().size() < expected.size()) {
                    return false;
                }
                return !framing.broken || (m_bridge->streamBroken && !PipeConnected());
            },
            5000);
        EXPECT_TRUE(settled) << (framing.broken ? "the bridge did not break the stream off"
                                                : "messages missing")
                             << ": " << Arrived().size() << " of " << expected.size() << " arrived";
        // Everything the bridge posted is delivered before the marker.
        EXPECT_EQ(iBusSendMessage(m_bus, kMarkerId, 0, nullptr, 0, nullptr, 0, nullptr), 1);
        EXPECT_TRUE(WaitFor([&] { return MarkerSeen(); }, 2000)) << "the bus stopped delivering";
        if (!framing.broken) {
            EXPECT_TRUE(PipeConnected()) << "a stream that frames must not break the connection";
            EXPECT_EQ(m_bridge->streamBroken, 0);
        }
        return Arrived();
    }

    int Reconnects() const { return m_reconnects; }

private:
    static void OnMessage(iBusMessageRecord* record, void* data) {
        BridgeRig* rig = static_cast<BridgeRig*>(data);
        const iBusMessage* content = iBusGetMessageContent(rig->m_bus, record);
        std::lock_guard<std::mutex> lock(rig->m_mutex);
        if (content->Id == kMarkerId) {
            rig->m_markerSeen = true;
            return;
        }
        Message m;
        m.id = content->Id;
        m.kind = content->Kind;
        memcpy(m.params, content->Param, sizeof m.params);
        m.data.assign(iBusMessageData(content), iBusMessageData(content) + (content->Size - kHeaderSize));
        rig->m_arrived.push_back(std::move(m));
    }

    void Connect() {
        ASSERT_TRUE(m_server->BeginAccept());
        bool connected = false;
        const bool done = WaitFor(
            [&] {
                connected = false;
                return NPipeConnect(m_pipe, m_fullName, &connected) == 0 && connected;
            },
            5000);
        ASSERT_TRUE(done) << "the pipe client could not connect";
        ASSERT_TRUE(m_server->FinishAccept(5000));
        NPipeResetFifos(m_pipe);
        iBusNPBridgeResetIncoming(m_bridge);
        const uint32_t out[] = {kToPipeId};
        ASSERT_EQ(iBusNPBridgeStart(m_bridge, m_bus, out, 1, m_pipe), 1);
    }

    void Feed(const Stream& stream, const Framing& framing, Cut cut, FuzzRandom& r) {
        const std::vector<uint8_t>& bytes = stream.bytes;
        size_t at = 0;
        while (at < bytes.size()) {
            size_t length = bytes.size() - at;
            if (cut == Cut::kEveryByte) {
                length = 1;
            } else if (cut == Cut::kChunks) {
                const size_t chunk = r.Range(1, 300);
                length = chunk < length ? chunk : length;
                if (r.Percent(10)) {
                    Sleep(r.Range(1, 5)); // let the reader catch up mid-message now and then
                }
            }
            // Past the header that breaks the stream the reader stops: a write may then
            // stay untaken, and the rest of the stream does not matter.
            const bool reachesPastBreak = framing.broken && at + length > framing.brokenAt + kHeaderSize;
            if (!m_server->Write(bytes.data() + at, length, reachesPastBreak ? 1000 : 5000)) {
                EXPECT_TRUE(reachesPastBreak) << "the agent stopped taking bytes at offset " << at
                                              << " of a stream that had not broken";
                return;
            }
            at += length;
        }
    }

    std::vector<Message> Arrived() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_arrived;
    }
    bool MarkerSeen() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_markerSeen;
    }
    bool PipeConnected() {
        bool connected = false;
        NPipeIsConnected(m_pipe, &connected);
        return connected;
    }
    template <typename Condition> static bool WaitFor(Condition condition, DWORD timeoutMs) {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (!condition()) {
            if (GetTickCount64() >= deadline) {
                return false;
            }
            Sleep(1);
        }
        return true;
    }

    std::string m_name;
    std::unique_ptr<FuzzPipeServer> m_server;
    iBusImplementation m_impl{};
    iBus* m_bus = nullptr;
    iBusClient* m_client = nullptr;
    NPipe* m_pipe = nullptr;
    iBusNPBridge* m_bridge = nullptr;
    char* m_fullName = nullptr;
    std::mutex m_mutex;
    std::vector<Message> m_arrived;
    bool m_markerSeen = false;
    int m_reconnects = 0;
};

// Runs one stream and checks it against the framing; false when the run should stop.
bool RunAndCheck(BridgeRig& rig, const Stream& stream, const Framing& framing, Cut cut, FuzzRandom& r,
                 std::vector<Message>* arrivedOut) {
    SCOPED_TRACE(std::string(CutName(cut)) + "; stream: " + stream.recipe +
                 "; bytes: " + HexDump(stream.bytes));
    const std::vector<Message> arrived = rig.Run(stream, framing, cut, r);
    std::vector<Message> expected;
    for (const Message& m : framing.messages) {
        if (Subscribed(m.id)) {
            expected.push_back(m);
        }
    }
    EXPECT_EQ(arrived.size(), expected.size()) << "messages framed before any break, in order";
    for (size_t i = 0; i < arrived.size() && i < expected.size(); ++i) {
        EXPECT_TRUE(arrived[i] == expected[i]) << "message " << i << ": arrived " << Describe(arrived[i])
                                               << ", framed " << Describe(expected[i]);
    }
    if (arrivedOut) {
        *arrivedOut = arrived;
    }
    if (::testing::Test::HasFailure()) {
        return false;
    }
    // A broken stream ends the connection; a tail that waits for the rest of its message is
    // dropped with a restarting service. Either way the next stream starts afresh.
    if (framing.broken || framing.framed < stream.bytes.size()) {
        rig.Reconnect();
    }
    return !::testing::Test::HasFailure();
}

StreamKind PickKind(FuzzRandom& r) {
    const uint32_t roll = r.Below(100);
    return roll < 35   ? StreamKind::kClean
           : roll < 65 ? StreamKind::kGarbage
           : roll < 90 ? StreamKind::kImpossible
                       : StreamKind::kTruncated;
}

TEST(DeviceLinkFuzz, BridgeStreamFraming) {
    FuzzRandom r = FuzzStream("bridge stream framing");
    const long liveBefore = iBusGetLiveMessageCount();
    FuzzBudget budget(40);
    const ULONGLONG start = GetTickCount64();
    size_t runs = 0, delivered = 0, broken = 0, twins = 0, bytes = 0;
    int reconnects = 0;
    {
        BridgeRig rig;
        ASSERT_NO_FATAL_FAILURE(rig.Start());
        while (budget.More()) {
            const size_t i = budget.Done() - 1;
            SCOPED_TRACE("case " + std::to_string(i) + " of seed " + std::to_string(FuzzSeed()));
            const Stream stream = MakeStream(r, PickKind(r));
            const Framing framing = FrameStream(stream.bytes);
            FuzzSetCurrentCase("bridge case " + std::to_string(i) + ": " + stream.recipe);
            broken += framing.broken ? 1 : 0;
            bytes += stream.bytes.size();
            // A quarter of the streams go twice, whole and a byte at a time: the same
            // messages must come out of both.
            const bool twin = r.Percent(25);
            const Cut cut = twin ? Cut::kWhole : (Cut)r.Below(3);
            std::vector<Message> first, second;
            ++runs;
            if (!RunAndCheck(rig, stream, framing, cut, r, &first)) {
                break;
            }
            delivered += first.size();
            if (twin) {
                ++twins;
                ++runs;
                if (!RunAndCheck(rig, stream, framing, Cut::kEveryByte, r, &second)) {
                    break;
                }
                EXPECT_TRUE(first == second) << "a write per byte delivered otherwise than one write";
            }
        }
        reconnects = rig.Reconnects();
    }
    EXPECT_EQ(iBusGetLiveMessageCount(), liveBefore) << "message records leaked";
    FuzzReport("bridge stream framing", budget.Done(), FuzzSecondsSince(start),
               std::to_string(runs) + " streams sent (" + std::to_string(twins) +
                   " also a byte per write), " + std::to_string(bytes) + " bytes, " +
                   std::to_string(delivered) + " messages delivered, " + std::to_string(broken) +
                   " broken streams, " + std::to_string(reconnects) + " reconnects");
}

// The break of a stream is traced with the size that broke it. Points the machine-wide
// trace key at a file of its own: runs alone.
TEST(DeviceLinkFuzz, BridgeStreamBreaksAreTraced) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    const std::string file =
        std::string(dir) + "orvin-fuzz-" + std::to_string(GetCurrentProcessId()) + ".log";
    orvin::TraceStop();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTraceKey);
    const DWORD fileSink = 3;
    ASSERT_EQ(
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugType", REG_DWORD, &fileSink, sizeof fileSink),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugFile", REG_SZ, file.c_str(),
                              (DWORD)file.size() + 1),
              ERROR_SUCCESS);
    struct Cleanup {
        std::string file;
        ~Cleanup() {
            orvin::TraceStop();
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTraceKey);
            DeleteFileA(file.c_str());
        }
    } cleanup{file};
    orvin::TraceStart();
    ASSERT_EQ(orvin::TraceGetSinkType(), 3u);

    FuzzRandom r = FuzzStream("bridge stream breaks traced");
    const size_t cases = FuzzCases(8);
    const ULONGLONG start = GetTickCount64();
    const long liveBefore = iBusGetLiveMessageCount();
    {
        BridgeRig rig;
        ASSERT_NO_FATAL_FAILURE(rig.Start());
        for (size_t i = 0; i < cases; ++i) {
            SCOPED_TRACE("case " + std::to_string(i) + " of seed " + std::to_string(FuzzSeed()));
            Stream stream;
            const uint32_t before = r.Range(0, 3);
            for (uint32_t m = 0; m < before; ++m) {
                Append(stream, WireOf(RandomMessage(r, 300)), "message");
            }
            uint32_t size = 0;
            AppendImpossibleHeader(r, stream, &size);
            Append(stream, WireOf(RandomMessage(r, 100)), "message");
            const Framing framing = FrameStream(stream.bytes);
            ASSERT_TRUE(framing.broken);
            FuzzSetCurrentCase("traced bridge case " + std::to_string(i) + ": " + stream.recipe);
            if (!RunAndCheck(rig, stream, framing, (Cut)r.Below(3), r, nullptr)) {
                break;
            }
            // Each break has its line, naming the size that broke the stream.
            std::ifstream in(file, std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            std::vector<std::string> breaks;
            std::string line;
            while (std::getline(text, line)) {
                if (line.find("iBusNPBridge:") != std::string::npos &&
                    line.find("stream broken") != std::string::npos) {
                    breaks.push_back(line);
                }
            }
            ASSERT_EQ(breaks.size(), i + 1) << "one trace line per broken stream";
            EXPECT_NE(breaks.back().find("(" + std::to_string(size) + " bytes)"), std::string::npos)
                << "the line names the size that broke the stream: " << breaks.back();
        }
    }
    EXPECT_EQ(iBusGetLiveMessageCount(), liveBefore) << "message records leaked";
    FuzzReport("bridge stream breaks traced", cases, FuzzSecondsSince(start), "");
}

} // namespace
