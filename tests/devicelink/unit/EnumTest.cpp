// The adapter enumeration client against a scripted "VCORE\HWENUM" served by the test.
#include "devicelink/AdapterEnum.h"
#include "devicelink/IoManager.h"
#include "TestPipeServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct EnumBehaviour {
    // When the answers to key requests go out: at once, once the test releases them, or once
    // the client has sent its next request (or the test releases them).
    enum Hold { kAnswerAtOnce, kUntilReleased, kUntilNextRequest };

    uint32_t count = 0;
    std::vector<std::string> keys;
    DWORD delayMs = 0; // before every answer
    Hold holdKeys = kAnswerAtOnce;
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
    std::vector<EnumRequest> Requests() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    // Lets held answers go, this one and all that follow.
    void Release() { m_released = true; }
    // Answers written so far.
    int Answered() const { return m_answered; }

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
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_requests.push_back(request);
                }
                Answer(request);
                ++m_answered;
            }
            m_server.Break();
        }
    }
    bool StillConnected() { return m_server.Write("", 0); }
    void Hold() {
        while (!m_stop && !m_released) {
            if (m_behaviour.holdKeys == EnumBehaviour::kUntilNextRequest) {
                if (!m_server.Quiet(5)) {
                    return; // bytes of the next request, or the client has gone
                }
            } else {
                Sleep(5);
            }
        }
    }
    void Answer(const EnumRequest& request) {
        Sleep(m_behaviour.delayMs);
        EnumResponseHeader header = {16, 0, m_behaviour.status, 0};
        std::string data;
        if (request.command == kEnumCmdGetAdapterCount) {
            header.result = m_behaviour.count;
        } else {
            if (m_behaviour.holdKeys != EnumBehaviour::kAnswerAtOnce) {
                Hold();
            }
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
    std::atomic<bool> m_released{false};
    std::atomic<int> m_answered{0};
    std::mutex m_mutex;
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

double MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return double(now.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

TEST(EnumTest, LateAnswersGiveNoKeyAndAreNotTakenForTheNextRequest) {
    // The answer for adapter 0 is held until the requester has given up on it, however long
    // that takes on a busy machine.
    EnumBehaviour late{2, {"Key\\Late0", "Key\\Late1"}};
    late.holdKeys = EnumBehaviour::kUntilReleased;
    EnumServer server(late);
    AdapterEnumerator* e = OpenEnumerator();
    ASSERT_NE(e, nullptr) << "the count comes in time";
    char key[kAdapterKeySize] = "";
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    EXPECT_FALSE(GetAdapterKey(e, 0, key, sizeof key));
    const double took = MillisecondsSince(start);
    // The budget is charged 10 ms for every poll, and each poll sleeps at least that long: a
    // second at the very least. A loaded machine may stretch the sleeps, not shorten them.
    EXPECT_GE(took, 990.0) << "gave up before its one-second budget";
    EXPECT_LT(took, 5000.0) << "the budget is one second, not a wait for ever";

    server.Release();
    ASSERT_TRUE(WaitUntil([&] { return server.Answered() == 2; }));
    Sleep(100); // the pipe thread moves it into the incoming queue meanwhile
    EXPECT_FALSE(GetAdapterKey(e, 1, key, sizeof key)) << "adapter 0's answer must not pass for adapter 1's";
    EXPECT_STREQ(key, "");
    CloseEnumerator(e);
}

TEST(EnumTest, ARequestWaitingForOneThatGivesUpFailsToo) {
    // Adapter 0's answer goes out only once the next request has been sent: a requester that
    // sends one after giving up on adapter 0 is handed adapter 0's answer.
    EnumBehaviour late{2, {"Key\\Late0", "Key\\Late1"}};
    late.holdKeys = EnumBehaviour::kUntilNextRequest;
    EnumServer server(late);
    AdapterEnumerator* e = OpenEnumerator();
    ASSERT_NE(e, nullptr);

    std::atomic<bool> firstOk{true};
    std::thread first([&] {
        char key[kAdapterKeySize] = "";
        firstOk = GetAdapterKey(e, 0, key, sizeof key);
    });
    // Adapter 0's request is out, so its requester holds the lock for its whole second.
    const bool firstSent = WaitUntil([&] { return server.Requests().size() == 2; });
    // This request waits for the lock meanwhile and finds the connection out of step.
    char key[kAdapterKeySize] = "";
    const bool secondOk = firstSent && GetAdapterKey(e, 1, key, sizeof key);
    first.join();
    ASSERT_TRUE(firstSent);
    EXPECT_FALSE(firstOk);
    EXPECT_FALSE(secondOk) << "took \"" << key << "\" for adapter 1";
    EXPECT_STREQ(key, "");
    EXPECT_EQ(server.Requests().size(), 2u) << "nothing is sent on a connection out of step";
    CloseEnumerator(e);
}

TEST(EnumTest, ConcurrentRequestsOnOneRequesterEachGetTheirOwnAnswer) {
    EnumServer server({4, {"Key\\Zero", "Key\\One", "Key\\Two", "Key\\Three"}});
    AdapterEnumerator* e = OpenEnumerator();
    ASSERT_NE(e, nullptr);
    constexpr int kRounds = 5;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (uint32_t index = 0; index < 4; ++index) {
        threads.emplace_back([&, index] {
            const char* expected[] = {"Key\\Zero", "Key\\One", "Key\\Two", "Key\\Three"};
            for (int round = 0; round < kRounds; ++round) {
                char key[kAdapterKeySize] = "";
                if (!GetAdapterKey(e, index, key, sizeof key) || strcmp(key, expected[index]) != 0) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(server.Requests().size(), 1u + 4 * kRounds);
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
