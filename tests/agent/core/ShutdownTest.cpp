// The agent's end while a voice dialogue keeps reporting, over the real I/O manager and a
// served "VCORE\IOMAN": the dialogues end while the link is open, so the service hears
// their reports (the last one sent as the dialogue ends among them), then NotifyAgentStatus
// 3, and nothing after it. Round after round.
#include "ivr/IvrManager.h"
#include "ivr/IvrStateMachine.h"
#include "softphone/OrvinApiClient.h"
#include "tests/audio/capture/FakeAudioBuffer.h"
#include "tests/devicelink/unit/TestPipeServer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const char kRoot[] = "SOFTWARE\\OrvinTest\\AgentShutdown";

// A dialogue on hand-driven audio that, instead of hearing keys, reports every millisecond
// or so (7, 8: a recording began) and, told to end, sends its last report (7, 6: end the
// call) on its way out.
class ReportingDialogue : public CIvrStateMachine {
public:
    using CIvrStateMachine::CIvrStateMachine;

protected:
    std::string GetSystemLanguageName() override { return "English"; }
    bool OpenAudio(HWND) override {
        auto ring = std::make_shared<FakeRingState>(CPlaylistSound::kBufferBytes, TelephonePcmFormat());
        return OpenAudioOn(std::make_unique<FakeCaptureDevice>(std::make_shared<FakeCaptureDevice::Record>()),
                           std::make_unique<FakeRing>(ring));
    }
    void ThreadBody() override {
        while (!IsStopRequested()) {
            IMM report = {};
            report.Type = 7;
            report.Code = 8;
            ReportKeepRecording(&report);
            Sleep(1);
        }
        Report(nullptr);
    }
};

std::unique_ptr<CIvrStateMachine> MakeReportingDialogue(IvrManager* manager, int id, bool pstn) {
    return std::make_unique<ReportingDialogue>(manager, id, pstn);
}

class TestClient : public COrvinApiClient {
public:
    void ConnectToApiServer() override {}
};

// What the service reads: every message the agent writes, after the 4-byte adapter index.
struct Message {
    uint32_t kind, type, code, info, id;
};

class ServiceEnd {
public:
    ServiceEnd() : m_server("VCORE\\IOMAN") {}
    ~ServiceEnd() { Stop(); }
    bool Accept() {
        if (!m_server.Accept() || m_server.Read(4) != std::vector<uint8_t>{0, 0, 0, 0}) {
            return false;
        }
        m_reader = std::thread([this] { // on until told to stop and nothing is left to read
            for (;;) {
                auto bytes = m_server.Read(4096, 10);
                if (bytes.empty()) {
                    if (m_bStop) {
                        break;
                    }
                    Sleep(1);
                    continue;
                }
                std::lock_guard<std::mutex> guard(m_Lock);
                m_Bytes.insert(m_Bytes.end(), bytes.begin(), bytes.end());
            }
        });
        return true;
    }
    void Stop() {
        m_bStop = true;
        if (m_reader.joinable()) {
            m_reader.join();
        }
    }
    // The whole messages read so far; *pWhole false when bytes of a message are missing.
    std::vector<Message> Messages(bool* pWhole = nullptr) {
        std::lock_guard<std::mutex> guard(m_Lock);
        std::vector<Message> messages;
        size_t at = 0;
        uint32_t field[7];
        while (m_Bytes.size() - at >= sizeof field) {
            memcpy(field, m_Bytes.data() + at, sizeof field);
            if (field[0] < 28 || m_Bytes.size() - at < field[0]) {
                break;
            }
            int32_t id = 0;
            if (field[2] == 3 && (field[6] & 0x01) && field[0] >= 28 + 4) {
                memcpy(&id, m_Bytes.data() + at + 28, 4); // Buffer1 word 0
            }
            messages.push_back({field[2], field[3], field[4], field[5], (uint32_t)id});
            at += field[0];
        }
        if (pWhole) {
            *pWhole = at == m_Bytes.size();
        }
        return messages;
    }

private:
    TestPipeServer m_server;
    std::thread m_reader;
    std::atomic<bool> m_bStop{false};
    std::mutex m_Lock;
    std::vector<uint8_t> m_Bytes;
};

size_t Count(const std::vector<Message>& messages, uint32_t type, uint32_t code, uint32_t id) {
    size_t n = 0;
    for (const Message& m : messages) {
        n += m.kind == 3 && m.type == type && m.code == code && m.id == id;
    }
    return n;
}

class AgentShutdownTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRoot);
        const char languages[] = "English";
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, (std::string(kRoot) + "\\Config\\IVR").c_str(),
                                  "SupportedLanguages", REG_SZ, languages, sizeof languages),
                  ERROR_SUCCESS);
        SetIvrManagerFactory(IvrManager::Factory);
        IvrManager::SetStateMachineMaker(MakeReportingDialogue);
    }
    void TearDown() override {
        IvrManager::SetStateMachineMaker(nullptr);
        SetIvrManagerFactory(nullptr);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRoot);
    }
};

TEST_F(AgentShutdownTest, DialoguesReportingThroughTheEndFinishBeforeTheClosingStatus) {
    for (int32_t round = 1; round <= 12; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ServiceEnd service;
        auto client = std::make_unique<TestClient>();
        client->Init(nullptr, kRoot);
        ASSERT_TRUE(service.Accept());

        // IVR_START (7, 0), answering machine (context 2), from the line.
        IMM start = {};
        start.Type = 7;
        start.Code = 0;
        start.Info = 1;
        const int32_t words[2] = {round, 2};
        memcpy(start.Buffer1, words, sizeof words);
        client->HandleAdapterEvent(start);
        ASSERT_TRUE(WaitUntil([&] { return Count(service.Messages(), 7, 8, round) >= 10; }, 10000));

        // The application's shutdown sequence.
        client->OnApiServerDetached();
        client->PrepareForClosing();
        client.reset();
        // Everything the agent wrote has been read once the closing status has: it is last.
        const auto closingSeen = [&] {
            for (const Message& m : service.Messages())
                if (m.kind == 3 && m.type == 3 && m.code == 1 && m.info == 3)
                    return true;
            return false;
        };
        EXPECT_TRUE(WaitUntil(closingSeen, 10000)) << "no NotifyAgentStatus 3";
        service.Stop();

        bool whole = false;
        const std::vector<Message> heard = service.Messages(&whole);
        EXPECT_TRUE(whole) << "a message cut short";
        ASSERT_FALSE(heard.empty());
        const Message& last = heard.back();
        EXPECT_TRUE(last.kind == 3 && last.type == 3 && last.code == 1 && last.info == 3)
            << "the last message is (" << last.type << ", " << last.code << ", " << last.info
            << "), not NotifyAgentStatus 3";
        size_t closing = 0;
        for (const Message& m : heard) {
            closing += m.kind == 3 && m.type == 3 && m.code == 1 && m.info == 3;
        }
        EXPECT_EQ(closing, 1u) << "NotifyAgentStatus 3 once";
        EXPECT_EQ(Count(heard, 7, 6, round), 1u) << "the dialogue's last report, sent as it ended";
    }
}

} // namespace
