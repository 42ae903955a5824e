// The adapter enumeration client against a scripted "VCORE\HWENUM" served by the test.
#include "AdapterEnum.h"
#include "IoManager.h"
#include "TestPipeServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct EnumBehaviour {
    uint32_t count = 0;
    std::vector<std::string> keys;
    DWORD delayMs = 0;    // before every answer
    DWORD keyDelayMs = 0; // before answers to key requests only
    uint32_t status = 0;
    bool headerOnlyKeys = false; // answer key requests with no data
    uint32_t claimedLength = 0;  // the length a key "needs"; 0: its real length
    uint32_t claimedSize = 0;    // the total size the header gives; 0: the real one
};

// Serves one client at a time until destroyed.
class EnumServer {
public:
    explicit EnumServer(EnumBehaviour behaviour)
        : m_behaviour(std::move(behaviour)), m_server("VCORE\\HWENUM") {
        m_thread = std::thread([this] { Serve(); });
    }
    ~EnumServer() {
        m_stop = true;
        m_thread.join();
    }
    std::vector<EnumRequest> Requests() const { return m_requests; }

private:
    void Serve() {
        while (!m_stop) {
            if (!m_server.Accept(100)) {
                continue;
            }
            for (;;) {
                auto bytes = m_server.Read(sizeof(EnumRequest), 200);
                if (bytes.size() != sizeof(EnumRequest)) {
                    if (m_stop || !StillConnected()) {
                        break;
                    }
                    continue;
                }
                EnumRequest request;
                memcpy(&request, bytes.data(), sizeof request);
                m_requests.push_back(request);
                Answer(request);
            }
            m_server.Break();
        }
    }
    bool StillConnected() { return m_server.Write("", 0); }
    void Answer(const EnumRequest& request) {
        Sleep(m_behaviour.delayMs);
        EnumResponseHeader header = {16, 0, m_behaviour.status, 0};
        std::string data;
        if (request.command == kEnumCmdGetAdapterCount) {
            header.result = m_behaviour.count;
        } else {
            Sleep(m_behaviour.keyDelayMs);
            std::string key =
                request.adapterIndex < m_behaviour.keys.size() ? m_behaviour.keys[request.adapterIndex] : "";
            header.result = m_behaviour.claimedLength ? m_behaviour.claimedLength : (uint32_t)key.size() + 1;
            if (!m_behaviour.headerOnlyKeys) {
                data = key + std::string(1, '\0');
            }
        }
        header.size = 16 + (uint32_t)data.size();
        std::vector<uint8_t> reply(header.size);
        if (m_behaviour.claimedSize) {
            header.size = m_behaviour.claimedSize;
        }
        memcpy(reply.data(), &header, 16);
        memcpy(reply.data() + 16, data.data(), data.size());
        m_server.Write(reply);
    }

    EnumBehaviour m_behaviour;
    TestPipeServer m_server;
    std::atomic<bool> m_stop{false};
    std::vector<EnumRequest> m_requests;
    std::thread m_thread;
};

std::string Root() {
    char key[kAdapterKeySize] = "untouched";
    FindAdapterRegistryRoot(key, sizeof key);
    return key;
}

TEST(EnumTest, NoServiceMeansNoRequesterAndAnEmptyKey) {
    EXPECT_EQ(OpenEnumerator(), nullptr);
    EXPECT_EQ(AdapterCount(nullptr), 0u);
    EXPECT_EQ(Root(), "");
}

TEST(EnumTest, CountsAndKeys) {
    {
        EnumServer server({0, {}});
        AdapterEnumerator* e = OpenEnumerator();
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(AdapterCount(e), 0u);
        char key[kAdapterKeySize];
        EXPECT_FALSE(GetAdapterKey(e, 0, key, sizeof key)) << "index not below the count";
        CloseEnumerator(e);
        EXPECT_EQ(Root(), "");
    }
    {
        EnumServer server({1, {"SOFTWARE\\Velcora\\Adapter0"}});
        EXPECT_EQ(Root(), "SOFTWARE\\Velcora\\Adapter0");
        auto requests = server.Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].size, 16u);
        EXPECT_EQ(requests[0].command, kEnumCmdGetAdapterCount);
        EXPECT_EQ(requests[0].capacity, 0u);
        EXPECT_EQ(requests[1].command, kEnumCmdGetAdapterKey);
        EXPECT_EQ(requests[1].adapterIndex, 0u);
        EXPECT_EQ(requests[1].capacity, kAdapterKeySize);
    }
    {
        EnumServer server({2, {"Key\\First", "Key\\Second"}});
        EXPECT_EQ(Root(), "Key\\Second") << "the last key obtained is kept";
    }
}

TEST(EnumTest, FailingAnswersGiveNoKey) {
    {
        EnumBehaviour failing{1, {"Key"}};
        failing.status = 5;
        EnumServer server(failing);
        EXPECT_EQ(OpenEnumerator(), nullptr) << "a failed count request";
    }
    {
        EnumBehaviour undersized{1, {"Key"}};
        undersized.claimedSize = 8;
        EnumServer server(undersized);
        EXPECT_EQ(OpenEnumerator(), nullptr) << "a response smaller than its own header";
    }
    {
        EnumBehaviour headerOnly{1, {"Key"}};
        headerOnly.headerOnlyKeys = true;
        EnumServer server(headerOnly);
        EXPECT_EQ(Root(), "") << "a 16-byte answer to a key request";
    }
    {
        EnumBehaviour tooLong{1, {"Key"}};
        tooLong.claimedLength = 300;
        EnumServer server(tooLong);
        EXPECT_EQ(Root(), "") << "the caller's buffer is too small";
    }
    {
        EnumServer server({1, {"Key"}});
        AdapterEnumerator* e = OpenEnumerator();
        ASSERT_NE(e, nullptr);
        char small[2] = {'x', 'x'};
        EXPECT_FALSE(GetAdapterKey(e, 0, small, sizeof small));
        CloseEnumerator(e);
    }
}

TEST(EnumTest, LateAnswersGiveNoKeyAndAreNotTakenForTheNextRequest) {
    EnumBehaviour late{2, {"Key\\Late0", "Key\\Late1"}};
    late.keyDelayMs = 2000;
    EnumServer server(late);
    AdapterEnumerator* e = OpenEnumerator();
    ASSERT_NE(e, nullptr) << "the count comes in time";
    char key[kAdapterKeySize] = "";
    const DWORD start = GetTickCount();
    EXPECT_FALSE(GetAdapterKey(e, 0, key, sizeof key));
    const DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 900u);
    EXPECT_LT(took, 1250u) << "the budget is one second";
    Sleep(500); // the late answer for adapter 0 has arrived by now
    EXPECT_FALSE(GetAdapterKey(e, 1, key, sizeof key)) << "adapter 0's answer must not pass for adapter 1's";
    EXPECT_STREQ(key, "");
    CloseEnumerator(e);
}

} // namespace

namespace {

TEST(EnumTest, AdapterAvailableOnlyWhenConnectedAndEnumerated) {
    TestPipeServer ioman("VCORE\\IOMAN");
    CIoManager manager;
    EXPECT_FALSE(manager.IsAdapterAvailable()) << "not open";
    ASSERT_EQ(manager.Open([](const IMM*, uint32_t, void*) {}, 0, nullptr), 1);
    ASSERT_TRUE(ioman.Accept());
    ASSERT_TRUE(WaitUntil([&] { return manager.Phase() == 3; }));
    EXPECT_FALSE(manager.IsAdapterAvailable()) << "no enumeration service";
    {
        EnumServer none({0, {}});
        EXPECT_FALSE(manager.IsAdapterAvailable());
    }
    {
        EnumServer one({1, {"Key"}});
        EXPECT_TRUE(manager.IsAdapterAvailable());
    }
    manager.Close();
}

} // namespace
