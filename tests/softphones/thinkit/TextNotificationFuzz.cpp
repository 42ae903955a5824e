// The ThinkIt and Tessaro clients' readers of outside bytes, fuzzed: notifications made of
// the words of their protocol, numbers, names and stray bytes, in any case, cut anywhere,
// with or without their terminating zero, short or very long, each placed so that it ends
// where a no-access page begins and delivered as the softphone delivers it (WM_COPYDATA to
// the engine's window). Between them come the service's requests and the handset's keys,
// and now and then an attach status, so the handlers meet every state. After each input:
// the session's state is a call status, the flags and the online status are what they may
// be, and every command the client sent keeps the softphone's rules as its stand-in checks
// them (data word 0, one terminating zero, not empty; any length, any bytes).
#include "SkypeSim/SkypeChecks.h"
#include "devicelink/MessageCatalogue.h"
#include "softphone/thinkit/TessaroApiClient.h"
#include "softphone/thinkit/ThinkItApiClient.h"
#include "tests/agent/audiodevices/FakeMixers.h"
#include "tests/lib/fuzz/Fuzz.h"
#include "tests/lib/fuzz/GuardedPage.h"
#include "tests/skype/unit/FakeSkype.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <string>
#include <vector>

namespace {

const char* const kWords[] = {"call",
                              "user",
                              "users",
                              "voicemails",
                              "voicemail",
                              "connstatus",
                              "userstatus",
                              "protocol",
                              "tessaroversion",
                              "skypeversion",
                              "pong",
                              "error",
                              "audio_in",
                              "currentuserhandle",
                              "status",
                              "ringing",
                              "inprogress",
                              "finished",
                              "missed",
                              "refused",
                              "busy",
                              "cancelled",
                              "routing",
                              "failed",
                              "onhold",
                              "localhold",
                              "remotehold",
                              "unplaced",
                              "vm_sent",
                              "type",
                              "incoming_p2p",
                              "incoming_pstn",
                              "partner_handle",
                              "pstn_number",
                              "pstn_status",
                              "pstn",
                              "hangup",
                              "failurereason",
                              "dtmf",
                              "duration",
                              "subject",
                              "onlinestatus",
                              "buddystatus",
                              "speeddial",
                              "can_leave_vm",
                              "true",
                              "false",
                              "online",
                              "offline",
                              "dnd",
                              "away",
                              "loggedout",
                              "connecting",
                              "playing",
                              "played",
                              "unplayed",
                              "deleting",
                              "notdownloaded",
                              "incoming",
                              "alice",
                              "bob",
                              "John",
                              "Smith"};
const char* const kFirstWords[] = {
    "call",     "user",           "users", "voicemails", "voicemail", "connstatus", "userstatus",
    "protocol", "tessaroversion", "pong",  "error",      "audio_in",  "CALL",       "USER"};

std::string Token(FuzzRandom& r) {
    switch (r.Below(6)) {
    case 0:
    case 1:
        return r.Pick(kWords);
    case 2:
        return std::to_string(r.Below(4) ? r.Below(40) : r.U32());
    case 3: {
        std::string name(r.Range(1, 12), 'x');
        for (char& c : name) {
            c = (char)r.Range(0x21, 0xff);
        }
        return name;
    }
    case 4:
        return std::string(1, (char)r.Pick({'0', '5', '9', '*', '#', '2', '4'}));
    default:
        return std::string(r.Range(1, 1500), (char)r.Range('a', 'z')); // long: texts of any length
    }
}

std::string Separator(FuzzRandom& r) {
    static const char* const kSeparators[] = {" ", " ", " ", ",", ", ", "  ", " ,, ", "\t"};
    return r.Pick(kSeparators);
}

// A notification, its bytes as the softphone would send them (the zero may be missing, and
// a stray zero may come early).
std::string Notification(FuzzRandom& r) {
    std::string text = r.Percent(90) ? r.Pick(kFirstWords) : Token(r);
    const uint32_t more = r.Below(7);
    for (uint32_t i = 0; i < more; ++i) {
        text += Separator(r) + Token(r);
    }
    for (char& c : text) {
        if (r.Percent(20)) {
            c = (char)toupper((unsigned char)c);
        }
    }
    if (r.Percent(15)) {
        text.resize(r.Below((uint32_t)text.size() + 1)); // cut anywhere
    }
    if (r.Percent(10)) {
        text += Separator(r); // trailing delimiters
    }
    if (r.Percent(5) && !text.empty()) {
        text[r.Below((uint32_t)text.size())] = '\0';
    }
    if (r.Percent(70)) {
        text += '\0';
    }
    return text;
}

void PumpPending() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&message);
    }
}

// One client against its fake softphone.
template <typename Client>
void FuzzClient(const char* parser, const char* discover, const char* attach, bool hasKeypad) {
    GuardedPage page;
    ASSERT_TRUE(page.Valid());
    FuzzRandom r = FuzzStream(parser);
    const size_t cases = FuzzCases(20000);
    const uint64_t start = GetTickCount64();
    FuzzWatchdog watchdog;

    FakeMixers mixers({FakeMixer{"Orvin Virtual Audio Device", true, true}});
    FakeSkype phone(0, discover, attach);
    CConfigParams params;
    Client client(mixers);
    client.SetConfigParams(&params);
    ASSERT_TRUE(client.TextEngine()->Create(&client));
    client.ConnectToApiServer();
    ASSERT_TRUE(Pump([&] { return (client.ConnectionFlags() & 0x0C) == 0x0C; }));
    const UINT attachMessage = RegisterWindowMessageA(attach);

    size_t checked = 0, commands = 0, ready = 0, longest = 0, unterminated = 0;
    for (size_t i = 0; i < cases; ++i) {
        std::string bytes = Notification(r);
        if (bytes.size() > page.Capacity()) {
            bytes.resize(page.Capacity()); // what fits before the no-access page
        }
        longest = std::max(longest, bytes.size());
        unterminated += bytes.empty() || bytes.back() != '\0';
        FuzzSetCurrentCase(std::string(parser) + " case " + std::to_string(i) + ": " +
                           HexDump(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 96));
        watchdog.Arm(10000, std::string(parser) + " case " + std::to_string(i));
        if (!bytes.empty()) {
            COPYDATASTRUCT data = {0, (DWORD)bytes.size(), page.Place(bytes.data(), bytes.size())};
            SendMessageA(client.TextEngine()->Window(), WM_COPYDATA, (WPARAM)phone.m_hWnd, (LPARAM)&data);
        }
        const uint32_t event = r.Below(12);
        FuzzSetCurrentCase(std::string(parser) + " case " + std::to_string(i) + ", then event kind " +
                           std::to_string(event) + " (state " + std::to_string(client.Session().m_nState) +
                           ")");
        switch (event) {
        case 0:
            client.HandleAdapterEvent([&] {
                IMM m = {};
                m.Type = 1;
                m.Code = 1;
                m.Info = r.Pick({'1', '2', '4', '5', '*', '#'});
                return m;
            }());
            break;
        case 1:
            client.HandleAdapterEvent([&] {
                IMM m = {};
                m.Type = 1;
                m.Code = r.Pick({0, 5});
                m.Info = (int)r.Below(2);
                return m;
            }());
            break;
        case 2:
            client.HandleAdapterEvent([&] {
                IMM m = {};
                m.Type = 0;
                m.Code = r.Pick({5, 7, 8, 9, 14});
                m.Info = (int)r.Below(40);
                return m;
            }());
            break;
        case 3:
            if (hasKeypad) {
                client.HandleAdapterEvent([&] {
                    IMM m = {};
                    m.Type = 1;
                    m.Code = 13;
                    m.Info = (int)r.Below(21);
                    return m;
                }());
            }
            break;
        case 4:
            if (r.Percent(30)) {
                SendMessageA(client.TextEngine()->Window(), attachMessage, (WPARAM)phone.m_hWnd,
                             (LPARAM)r.Pick({0u, 1u, 2u, 3u, 0x8001u, 7u}));
            }
            break;
        default:
            break;
        }
        PumpPending();
        watchdog.Disarm();

        const int state = client.Session().m_nState;
        ASSERT_TRUE(state >= 0 && state <= 14) << "session state " << state;
        ASSERT_EQ(client.ConnectionFlags() & ~0x1F, 0);
        ASSERT_NE(client.ConnectionFlags() & 0x01, 0);
        ASSERT_TRUE(client.OnlineStatus() >= 0 && client.OnlineStatus() <= 3);
        ready += (client.ConnectionFlags() & 0x08) != 0;
        for (; checked < phone.raw.size(); ++checked, ++commands) {
            orvin::skypesim::ReceivedCommand command;
            command.data = (uint32_t)phone.dataWords[checked];
            command.bytes = phone.raw[checked];
            command.attached = command.fromAttachedWindow = true;
            const auto violations =
                orvin::skypesim::CheckCommand(command, orvin::skypesim::kAnsiCommandRules);
            ASSERT_TRUE(violations.empty()) << violations.front() << " in command " << checked;
        }
        if (phone.raw.size() > 4096) {
            phone.raw.clear();
            phone.dataWords.clear();
            phone.commands.clear();
            checked = 0;
        }
    }
    FuzzReport(parser, cases, FuzzSecondsSince(start),
               std::to_string(unterminated) + " without their zero, the longest " + std::to_string(longest) +
                   " bytes; " + std::to_string(commands) + " commands checked, ready after " +
                   std::to_string(ready) + " cases");
}

TEST(TextApiFuzz, ThinkItNotifications) {
    FuzzClient<CThinkItApiClient>("ThinkIt notifications", "ThinkITControlAPIDiscover",
                                  "ThinkITControlAPIAttach", false);
}

TEST(TextApiFuzz, TessaroNotifications) {
    FuzzClient<CTessaroApiClient>("Tessaro notifications", "TessaroControlAPIDiscover",
                                  "TessaroControlAPIAttach", true);
}

} // namespace
