// The TelTel client over a made-up library in this process (FakeTelTel.h): the readiness
// poll, rings and calls from the library's callbacks (run on threads of their own, as
// TelTel runs them), the service's requests, the handset's keys and the end. What goes to
// the service is read from the traffic the client logs for it ("[AG-->SM]": event name,
// info, first buffer).
#include "FakeTelTel.h"
#include "softphone/teltel/TelTelApiClient.h"
#include "tests/agent/audiodevices/FakeMixers.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using faketeltel::Calls;
using faketeltel::Fire;

class ServiceLog : public IOrvinAgentDialog {
public:
    void SetApiClient(COrvinApiClient*) override {}
    void SetMessageEngine(CMessageEngine*) override {}
    void SetRegistryRoot(const std::string&) override {}
    void RefreshStatus() override {}
    void AddTrafficLine(const char* text, int direction) override {
        if (direction == 4) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_events.push_back(text);
        }
    }
    void RingIndicationOn() override {}
    void RingIndicationOff() override {}
    void BusyIndication() override {}
    bool IsCallRecording() override { return false; }
    void StopCallRecording() override {}

    // The events since the last look.
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> lock(m_lock);
        return std::exchange(m_events, {});
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_events.size();
    }

private:
    std::mutex m_lock; // the events may come from any thread when a handler runs astray
    std::vector<std::string> m_events;
};

// Records where and in which order TelTel's events are handled.
class RecordingClient : public CTelTelApiClient {
public:
    using CTelTelApiClient::CTelTelApiClient;
    void ParseIncommingEvent(int event) override {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            handled.emplace_back(event, GetCurrentThreadId());
        }
        CTelTelApiClient::ParseIncommingEvent(event);
    }
    std::vector<std::pair<int, DWORD>> Handled() {
        std::lock_guard<std::mutex> lock(m_lock);
        return handled;
    }

private:
    std::mutex m_lock;
    std::vector<std::pair<int, DWORD>> handled;
};

// Runs this thread's messages until `condition` holds (at most `ms`).
template <typename Condition> bool Pump(Condition condition, DWORD ms = 5000) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(5);
    }
}

void PumpAWhile(DWORD ms) {
    Pump([] { return false; }, ms);
}

IMM Event(int type, int code, int info) {
    IMM message = {};
    message.Type = type;
    message.Code = code;
    message.Info = info;
    return message;
}

const char* const kDevice = "Orvin Virtual Audio Device";
const std::string kAudio =
    std::string("TelTel_RegisterAudioDevices2(") + kDevice + ", " + kDevice + ", " + kDevice + ")";
const char* const kConnected = "MSG_TYPE_AGENT_EVENT: NotifyAgentStatus, info:1, buffer:";
const char* const kDisconnected = "MSG_TYPE_AGENT_EVENT: NotifyAgentStatus, info:2, buffer:";
const char* const kRinging = "MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:1, buffer:";
const char* const kRouting = "MSG_TYPE_CALL_EVENT: CALL_STATUS_ROUTING, info:1, buffer:";
const char* const kInProgress = "MSG_TYPE_CALL_EVENT: CALL_STATUS_INPROGRESS, info:1, buffer:";
const char* const kFinished = "MSG_TYPE_CALL_EVENT: CALL_STATUS_FINISHED, info:1, buffer:";
const char* const kLoneStar = "MSG_TYPE_AGENT_EVENT: NotifyAgentStatus, info:4, buffer:";

class TelTelClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_client =
            std::make_unique<RecordingClient>(m_mixers, faketeltel::Fresh(m_Lacking, m_bRingAtRegistration));
        m_client->SetConfigParams(&m_params);
        m_client->Init(&m_service, "SOFTWARE\\OrvinTest\\NoSuchTelTelRoot");
        m_service.Take(); // AgentAlive
    }
    // TelTel ready, the first poll: attached.
    void Attach() {
        faketeltel::SetReady(1);
        m_client->Ping();
        ASSERT_TRUE(m_client->Attached());
        Calls();
        m_service.Take();
    }
    void Keys(const char* keys) {
        for (const char* k = keys; *k; ++k) {
            m_client->HandleAdapterEvent(Event(1, 1, *k)); // NOTIFY_DTMF_KEY
        }
    }
    // Until the service has been told `count` more events.
    bool ServiceHears(size_t count) {
        return Pump([&] { return m_service.Count() >= count; });
    }

    FakeMixers m_mixers{{{kDevice, true, true}}};
    std::set<std::string> m_Lacking; // the functions the library lacks
    bool m_bRingAtRegistration = false;
    CConfigParams m_params;
    ServiceLog m_service;
    std::unique_ptr<RecordingClient> m_client;
};

TEST_F(TelTelClientTest, RegistersItsWindowAndCallbacksAndPollsEveryTwoSecondsUntilReady) {
    const HWND window = m_client->Engine()->Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Calls(),
              (std::vector<std::string>{"TelTel_Register(" + faketeltel::Hex((uintptr_t)window) + ")",
                                        "TelTel_RegisterInCallCBV2()", "TelTel_RegisterIncmingCallCBV2()"}));
    // The engine's window passes what it gets on to the library.
    PostMessageA(window, WM_APP + 0x123, 7, 9);
    PumpAWhile(100);
    bool passedOn = false;
    for (const faketeltel::Call& call : faketeltel::AllCalls()) {
        passedOn = passedOn || (call.function == "TelTel_WndProc" &&
                                call.args == std::vector<std::string>{"0x8123", "0x7", "0x9"});
    }
    EXPECT_TRUE(passedOn) << "WM_APP + 0x123 passed to TelTel_WndProc";

    m_client->ConnectToApiServer();
    PumpAWhile(2600);
    EXPECT_FALSE(m_client->Attached());
    EXPECT_EQ(m_client->ConnectionFlags() & 0x0C, 0);
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{}) << "a TelTel not ready is not told of";
    faketeltel::SetReady(0x101); // the low byte decides
    ASSERT_TRUE(Pump([&] { return m_client->Attached(); }, 4500)) << "the next poll attaches";
    EXPECT_EQ(m_client->ConnectionFlags() & 0x0C, 0x0C);
    EXPECT_EQ(Calls(), (std::vector<std::string>{kAudio, kAudio})) << "capture and playback: the adapter";
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kConnected});
    m_client->Ping();
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{}) << "connected once";

    faketeltel::SetReady(0x100);
    m_client->Ping();
    EXPECT_FALSE(m_client->Attached());
    EXPECT_EQ(m_client->ConnectionFlags() & 0x0C, 0);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"TelTel_UnregisterAudioDevices()"}));
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kDisconnected});
    m_client->Ping();
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{}) << "disconnected once";
}

class TelTelNoReadinessTest : public TelTelClientTest {
protected:
    TelTelNoReadinessTest() { m_Lacking = {"TelTel_IsTelTelReady"}; }
};

TEST_F(TelTelNoReadinessTest, ALibraryWithoutItsReadinessFunctionLeavesTheClientDetached) {
    faketeltel::SetReady(1);
    m_client->Ping();
    EXPECT_FALSE(m_client->Attached()) << "-1 is not ready";
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{});
}

class TelTelRingingAtOnceTest : public TelTelClientTest {
protected:
    TelTelRingingAtOnceTest() { m_bRingAtRegistration = true; }
};

TEST_F(TelTelRingingAtOnceTest, ARingThatTelTelReportsAsItsCallbacksArriveIsNotLost) {
    ASSERT_TRUE(Pump([&] { return m_client->Handled().size() == 1; })) << "SetUp's registration rang";
    EXPECT_EQ(m_client->Handled()[0].first, 0);
    EXPECT_EQ(m_client->Session().m_nState, 4);
}

TEST_F(TelTelClientTest, AnIncomingCallRingsIsAnsweredAndEndsFromEitherSide) {
    Attach();
    ASSERT_TRUE(Fire(faketeltel::kRingStart, 42));
    ASSERT_TRUE(ServiceHears(1));
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kRinging}) << "no caller data: empty buffers";
    EXPECT_EQ(m_client->Session().m_nState, 4);
    EXPECT_EQ(m_client->Session().m_nCallId, 1);

    m_client->HandleAdapterEvent(Event(1, 0, 0)); // off-hook
    m_client->HandleAdapterEvent(Event(0, 5, 1)); // the service answers
    EXPECT_EQ(Calls(), (std::vector<std::string>{"TelTel_BringToTop()", "TelTel_AnswerOrCall()"}));
    ASSERT_TRUE(Fire(faketeltel::kRingStop, 42));
    ASSERT_TRUE(Fire(faketeltel::kCallStart, 42));
    ASSERT_TRUE(ServiceHears(1));
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kInProgress});
    EXPECT_EQ(m_client->Session().m_nState, 5);

    m_client->HandleAdapterEvent(Event(0, 7, 1));  // hold
    m_client->HandleAdapterEvent(Event(0, 14, 1)); // off hold
    Keys("4*");
    EXPECT_EQ(Calls(), (std::vector<std::string>{"TelTel_Mute()", "TelTel_Unmute()"}))
        << "keys during the call reach nobody";
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{}) << "a star in a call is no lone star";

    // The far end hangs up: the telephone is told.
    ASSERT_TRUE(Fire(faketeltel::kCallEnd, 42));
    ASSERT_TRUE(ServiceHears(1));
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kFinished});
    EXPECT_EQ(m_client->Session().m_nState, 9);
    m_client->HandleAdapterEvent(Event(1, 0, 1)); // on-hook
    PumpAWhile(50);
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{});

    // The next call ends on the handset: TelTel hangs up and confirms.
    ASSERT_TRUE(Fire(faketeltel::kRingStart, 43));
    m_client->HandleAdapterEvent(Event(1, 0, 0));
    m_client->HandleAdapterEvent(Event(0, 5, 1));
    ASSERT_TRUE(Fire(faketeltel::kRingStop, 43));
    ASSERT_TRUE(ServiceHears(2));
    EXPECT_EQ(m_service.Take(), (std::vector<std::string>{kRinging, kInProgress}));
    Calls();
    m_client->HandleAdapterEvent(Event(0, 9, 1)); // the service: finished
    EXPECT_EQ(Calls(), std::vector<std::string>{"TelTel_HangupOrReject()"});
    ASSERT_TRUE(Fire(faketeltel::kCallEnd, 43));
    ASSERT_TRUE(ServiceHears(1));
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kFinished});
    EXPECT_EQ(m_client->Session().m_nState, 9);
}

TEST_F(TelTelClientTest, CallbacksFromTheLibrarysThreadsRunOnTheGuiThreadInTheirOrder) {
    Attach();
    const faketeltel::Callback order[] = {faketeltel::kRingStart, faketeltel::kRingStop,
                                          faketeltel::kCallStart, faketeltel::kCallEnd};
    const int rounds = 25;
    for (int round = 0; round < rounds; ++round) {
        for (faketeltel::Callback callback : order) {
            ASSERT_TRUE(Fire(callback, round));
        }
    }
    EXPECT_TRUE(m_client->Handled().empty()) << "nothing handled on the library's threads";
    ASSERT_TRUE(Pump([&] { return m_client->Handled().size() == 4u * rounds; }));
    const auto handled = m_client->Handled();
    const DWORD gui = GetCurrentThreadId();
    for (size_t i = 0; i < handled.size(); ++i) {
        EXPECT_EQ(handled[i].first, (int)(i % 4)) << "event " << i;
        EXPECT_EQ(handled[i].second, gui) << "event " << i;
    }
    EXPECT_EQ(m_service.Count(), 3u * rounds) << "ringing, in progress and finished each round";
}

TEST_F(TelTelClientTest, AKeyedNumberIsCalledWithTheSendKeyAndCountsAsACall) {
    Attach();
    m_client->HandleAdapterEvent(Event(1, 0, 0)); // off-hook
    Calls();
    Keys("555*");
    EXPECT_EQ(Calls(), std::vector<std::string>{"TelTel_AnswerOrCall()"});
    EXPECT_EQ(m_service.Take(), (std::vector<std::string>{kRouting, kInProgress}));
    EXPECT_EQ(m_client->CollectedDigits(), "");
    Keys("*");
    Keys("12*");
    EXPECT_EQ(Calls(), std::vector<std::string>{}) << "no second call while one is in progress";
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{}) << "no lone star in a call";

    ASSERT_TRUE(Fire(faketeltel::kCallEnd));
    ASSERT_TRUE(ServiceHears(1));
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kFinished}) << "the far end hung up";
    Keys("*");
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kLoneStar});
    EXPECT_EQ(Calls(), std::vector<std::string>{}) << "no digits: nothing called";

    // With '#' as the send key, '*' starts the number afresh.
    m_params.m_cSendKey = '#';
    Keys("1*2");
    EXPECT_EQ(m_client->CollectedDigits(), "2");
    Keys("#");
    EXPECT_EQ(Calls(), std::vector<std::string>{"TelTel_AnswerOrCall()"});
    EXPECT_EQ(m_client->CollectedDigits(), "");
}

TEST_F(TelTelClientTest, AStarEndsAVoicemailSessionAndTheSessionDialsNothing) {
    Attach();
    m_params.m_cSendKey = '#';
    m_client->SetVoiceMailMode(2);
    Keys("12#");
    EXPECT_EQ(Calls(), std::vector<std::string>{}) << "no dialling in a voicemail session";
    Keys("*");
    EXPECT_EQ(m_service.Take(),
              std::vector<std::string>{"MSG_TYPE_CALL_EVENT: CALL_STATUS_FINISHED, info:0, buffer:"});
    EXPECT_EQ(m_client->VoiceMailMode(), 0);
    m_client->SetVoiceMailMode(2);
    m_client->HandleAdapterEvent(Event(1, 0, 1)); // on-hook
    EXPECT_EQ(m_client->VoiceMailMode(), 0);
}

// The adapter's device is not there when TelTel becomes ready.
class TelTelLateDeviceTest : public TelTelClientTest {
protected:
    TelTelLateDeviceTest() { m_mixers.mixers[0].bReadable = false; }
};

TEST_F(TelTelLateDeviceTest, TheAudioThreadSelectsTheAdaptersDevicesOnceTheyAppear) {
    Attach();
    EXPECT_EQ(Calls(), std::vector<std::string>{}) << "no device yet";
    m_mixers.mixers[0].bReadable = true;
    std::vector<faketeltel::Call> audio;
    ASSERT_TRUE(Pump([&] {
        audio.clear();
        for (const faketeltel::Call& call : faketeltel::AllCalls()) {
            if (call.function == "TelTel_RegisterAudioDevices2") {
                audio.push_back(call);
            }
        }
        return audio.size() == 2;
    }));
    EXPECT_NE(audio[0].thread, GetCurrentThreadId()) << "selected by the audio thread";
}

TEST_F(TelTelLateDeviceTest, ADisconnectStopsTheAudioThread) {
    Attach(); // the audio thread searches
    faketeltel::SetReady(0);
    m_client->Ping(); // TelTel went
    Calls();
    m_mixers.mixers[0].bReadable = true;
    PumpAWhile(1500);
    EXPECT_EQ(Calls(), std::vector<std::string>{}) << "no devices for a TelTel that went";
}

// The library stays loaded kUnloadGraceMs after TelTel_Unregister; the end waits for
// nothing else that will not come (no audio thread ever ran here).
TEST_F(TelTelClientTest, TheEndKeepsTheLibraryTwoSecondsAfterUnregisterAndWaitsForNothingElse) {
    const ULONGLONG start = GetTickCount64();
    m_client.reset();
    const ULONGLONG end = GetTickCount64();
    ULONGLONG unregistered = 0;
    for (const faketeltel::Call& call : faketeltel::AllCalls()) {
        if (call.function == "TelTel_Unregister") {
            unregistered = call.tick;
        }
    }
    ASSERT_NE(unregistered, 0u) << "TelTel_Unregister was called";
    EXPECT_GE(end - unregistered, 1900u) << "the library's grace";
    EXPECT_LT(end - start, 4500u) << "no wait for an audio thread that never ran";
}

TEST_F(TelTelLateDeviceTest, TheEndStopsARunningAudioThreadAtOnce) {
    Attach(); // the audio thread searches
    PumpAWhile(300);
    const ULONGLONG start = GetTickCount64();
    m_client.reset();
    EXPECT_LT(GetTickCount64() - start, 4500u);
}

// ---- The wrapper alone

class RecordingSink : public ITelTelCallSink {
public:
    void NotifyRingStart(uint32_t value) override { events.push_back("ring-start " + std::to_string(value)); }
    void NotifyRingStop(uint32_t value) override { events.push_back("ring-stop " + std::to_string(value)); }
    void NotifyCallStart(uint32_t value) override { events.push_back("call-start " + std::to_string(value)); }
    void NotifyCallEnd(uint32_t value) override { events.push_back("call-end " + std::to_string(value)); }
    std::vector<std::string> events;
};

TEST(TelTelWrapperTest, MissingFunctionsAnswerMinusOneAndResultsGiveTheirLowByte) {
    auto library = faketeltel::Fresh(
        {"TelTel_AnswerOrCall", "TelTel_IsTelTelReady", "TelTel_Mute", "TelTel_RegisterIncmingCallCBV2"});
    CTelTelApiWrapper wrapper(library);
    EXPECT_EQ(wrapper.Answer(), -1);
    EXPECT_EQ(wrapper.Call(), -1);
    EXPECT_EQ(wrapper.IsTelTelReady(), -1);
    EXPECT_EQ(wrapper.Mute(), -1);
    EXPECT_EQ(wrapper.GetFunc("TelTel_Mute"), nullptr);
    {
        std::lock_guard<std::mutex> lock(faketeltel::Library().lock);
        faketeltel::Library().answer = 0x1FF;
    }
    EXPECT_EQ(wrapper.Hangup(), 0xFF) << "the low byte";
    EXPECT_EQ(wrapper.Reject(), 0xFF);
    EXPECT_EQ(wrapper.UnMute(), 0x1FF);
    EXPECT_EQ(wrapper.Connect(), 0x1FF) << "TelTel_Register's answer, the missing registration passed over";
    EXPECT_EQ(Calls(), (std::vector<std::string>{"TelTel_HangupOrReject()", "TelTel_HangupOrReject()",
                                                 "TelTel_Unmute()", "TelTel_Register(0x0)",
                                                 "TelTel_RegisterInCallCBV2()"}));
}

TEST(TelTelWrapperTest, CallbacksReachTheSinkUntilTheWrapperIsGone) {
    faketeltel::Fresh();
    RecordingSink sink;
    {
        CTelTelApiWrapper wrapper(faketeltel::Fresh());
        wrapper.SetSink(&sink);
        wrapper.Connect();
        Fire(faketeltel::kRingStart, 5);
        Fire(faketeltel::kRingStop, 6);
        Fire(faketeltel::kCallStart, 7);
        Fire(faketeltel::kCallEnd, 8);
    }
    EXPECT_EQ(sink.events,
              (std::vector<std::string>{"ring-start 5", "ring-stop 6", "call-start 7", "call-end 8"}));
    EXPECT_TRUE(Fire(faketeltel::kRingStart, 9)) << "TelTel still holds the callback";
    EXPECT_EQ(sink.events.size(), 4u) << "nothing reaches a wrapper that is gone";
}

} // namespace
