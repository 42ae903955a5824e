// Skype's side of the agent fuzzed: the tokenizer every notification goes through, the
// commands the client sends (UTF-8, at most 255 bytes), and Skype's notifications through
// the client's real entry, the message engine's WM_COPYDATA, with every text ending where
// a no-access page begins. Between the notifications come the service's requests and the
// handset's keys, the client's timer ticks and Skype's attach messages, so that calls,
// voice-mail sessions and reconnections are reached. Skype's API window is a window of the
// test that checks every command it is sent and may answer inside the agent's send.
#include "devicelink/MessageCatalogue.h"
#include "SkypeFuzz.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace skype_fuzz;

namespace {

// The tokens as Skype's texts are meant to be read: blank and comma separate, runs of them
// count as one.
std::vector<std::string> ModelTokens(const std::string& text) {
    std::vector<std::string> tokens;
    std::string token;
    for (char c : text) {
        if (c == ' ' || c == ',') {
            if (!token.empty()) {
                tokens.push_back(token);
                token.clear();
            }
        } else {
            token += c;
        }
    }
    if (!token.empty()) {
        tokens.push_back(token);
    }
    return tokens;
}

std::string AsciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = (char)(c - 'A' + 'a');
        }
    }
    return text;
}

std::string Printable(const std::string& text, size_t limit = 80) {
    std::string shown;
    for (size_t i = 0; i < text.size() && i < limit; ++i) {
        const unsigned char c = (unsigned char)text[i];
        shown += (c >= 0x20 && c < 0x7F) ? (char)c : '?';
    }
    return shown + (text.size() > limit ? "... (" + std::to_string(text.size()) + " bytes)" : "");
}

TEST(SkypeFuzz, Tokenizer) {
    FuzzRandom r = FuzzStream("skype tokenizer");
    FuzzBudget budget(60000);
    const char alphabet[] = {' ',  ',', ' ', 'a',    'B',    'z',    'Z', '0', '9',
                             '\t', '.', '_', '\x80', '\xC3', '\xFF', 'A', ',', ' '};
    size_t tokensSeen = 0;
    while (budget.More() && !::testing::Test::HasFailure()) {
        std::string text;
        const uint32_t length = r.Percent(95) ? r.Below(40) : r.Range(40, 2000);
        for (uint32_t i = 0; i < length; ++i) {
            text += r.Percent(90) ? r.Pick(alphabet) : (char)r.Range(1, 255);
        }
        SCOPED_TRACE("text \"" + Printable(text) + "\" of seed " + std::to_string(FuzzSeed()));
        const std::string lower = AsciiLower(text);
        const std::vector<std::string> expected = ModelTokens(lower);
        tokensSeen += expected.size();

        CTokenizer tokenizer;
        tokenizer.SetText(text);
        tokenizer.ToLower();
        EXPECT_EQ(tokenizer.Text(), lower) << "only A to Z change in lower case";
        ASSERT_EQ(tokenizer.CountTokens(), (int)expected.size());
        const VString all = tokenizer.AllTokens();
        ASSERT_EQ(all.Size(), (int)expected.size());
        for (int i = 0; i < all.Size(); ++i) {
            EXPECT_EQ(all[i], expected[(size_t)i]);
        }
        EXPECT_EQ(all[all.Size()], "") << "an index past the tokens gives an empty text";
        EXPECT_EQ(all[-1], "");
        // One at a time, after skipping some: the same tokens, then empty ones.
        const int skip = (int)r.Below((uint32_t)expected.size() + 2);
        tokenizer.SkipTokens(skip);
        for (size_t i = (size_t)skip; i < expected.size() + 2; ++i) {
            EXPECT_EQ(tokenizer.NextToken(), i < expected.size() ? expected[i] : "");
        }
    }
    FuzzReport("Skype tokenizer", budget.Done(), budget.Seconds(),
               std::to_string(tokensSeen) + " tokens compared");
}

// ---- The client on a window of the test's

IMM Event(int32_t type, int32_t code, int32_t info) {
    IMM message = {};
    message.Type = type;
    message.Code = code;
    message.Info = info;
    return message;
}

// The size a sender gives: with the zero, without it, cut short, or none.
size_t PickSize(FuzzRandom& r, const std::string& text, const char** how) {
    const uint32_t roll = r.Below(100);
    if (roll < 60) {
        *how = "with its zero";
        return text.size() + 1;
    }
    if (roll < 85) {
        *how = "without a zero";
        return text.size();
    }
    if (roll < 95) {
        *how = "cut short";
        return r.Range(0, (uint32_t)text.size());
    }
    *how = "empty";
    return 0;
}

// What Skype answers to a command, often in the words of the command itself.
std::string Answer(FuzzRandom& r, NotificationMaker& maker, const std::string& command, NotificationMix mix) {
    const std::vector<std::string> words = ModelTokens(AsciiLower(command));
    if (r.Percent(40) || words.size() < 2) {
        return maker.Make(mix);
    }
    const bool voicemail = words.size() >= 3 && words[1] == "voicemail";
    if (voicemail && mix == NotificationMix::kNoVoicemail) {
        return maker.Make(mix);
    }
    static const char* const kPlayback[] = {"PLAYING", "PLAYED", "BUFFERING", "DELETING", "FAILED"};
    if (words[0] == "alter" && voicemail) {
        return "VOICEMAIL " + words[2] + " STATUS " +
               (words.size() > 3 && words[3] == "delete" ? "DELETING" : "PLAYED");
    }
    if (words[0] == "open" && voicemail) {
        return "VOICEMAIL " + words[2] + " STATUS " + r.Pick(kPlayback);
    }
    if (words[0] == "search" && words[1] == "voicemails" && mix != NotificationMix::kNoVoicemail) {
        return "VOICEMAILS 11, 12, 13";
    }
    if (words[0] == "search" && words[1] == "friends") {
        return "USERS alice, bob";
    }
    if (words[0] == "get" && words.size() >= 4) { // get call|user|voicemail X property
        std::string value = r.Percent(50) ? "UNPLAYED" : "12";
        if (words[3] == "type") {
            value = words[1] == "call" ? "INCOMING_P2P" : "INCOMING";
        } else if (words[3] == "partner_handle") {
            value = "alice";
        }
        return words[1] + " " + words[2] + " " + words[3] + " " + value;
    }
    if (words[0] == "ping") {
        return "PONG";
    }
    return maker.Make(mix);
}

struct NotificationRun {
    size_t notifications = 0, answers = 0, serviceEvents = 0, ticks = 0, attaches = 0;
    std::map<std::string, size_t> kinds;
};

void FuzzNotifications(const char* name, NotificationMix mix, int answerPercent, size_t ownCases) {
    FuzzRandom r = FuzzStream(name);
    FuzzBudget budget(ownCases);
    SkypeRig rig;
    // The top-level text, and one page for each answer inside a send.
    constexpr size_t kRoom = 16384;
    GuardedPage pages[3] = {GuardedPage{kRoom}, GuardedPage{kRoom}, GuardedPage{kRoom}};
    for (GuardedPage& page : pages) {
        ASSERT_TRUE(page.Valid()) << "no guarded pages";
    }
    ASSERT_TRUE(rig.Start()) << "the client did not attach to the test's Skype window";
    NotificationMaker maker(r);
    NotificationMaker answers(r);
    FuzzWatchdog watchdog;
    NotificationRun run;
    int depth = 0;
    size_t answersThisCase = 0;

    rig.skype.onCommand = [&](const std::string& command) {
        if (depth >= 2 || !r.Percent(answerPercent)) {
            return;
        }
        ++depth;
        ++answersThisCase;
        ++run.answers;
        const std::string text = Answer(r, answers, command, mix);
        EXPECT_TRUE(rig.Deliver(text, text.size() + 1, pages[depth], 0)) << "an answer too long for its page";
        --depth;
    };

    std::string caseText;
    while (budget.More() && !::testing::Test::HasFailure()) {
        const size_t index = budget.Done() - 1;
        answersThisCase = 0;
        const uint32_t roll = r.Below(100);
        std::string described;
        if (roll < 84) {
            const std::string text = maker.Make(mix);
            const char* how = "";
            const size_t size = PickSize(r, text, &how);
            described = "notification \"" + maker.Recipe() + "\", " + std::to_string(size) + " bytes " + how;
            FuzzSetCurrentCase(std::string(name) + " case " + std::to_string(index) + ": " + described);
            SCOPED_TRACE("case " + std::to_string(index) + " of seed " + std::to_string(FuzzSeed()) + ": " +
                         described);
            const std::string received(text.c_str(), strnlen(text.c_str(), size));
            const std::vector<std::string> tokens = ModelTokens(AsciiLower(received));
            ++run.notifications;
            ++run.kinds[tokens.empty() ? "(none)" : tokens[0].size() <= 20 ? tokens[0] : "(other)"];
            const size_t loggedBefore = rig.log.fromSkype;
            const size_t contactsBefore = rig.client.Contacts().Count();

            watchdog.Arm(20000, described);
            ASSERT_TRUE(rig.Deliver(text, size, pages[0], r.Percent(90) ? 0 : r.U32()))
                << size << " bytes do not fit the guarded pages";
            watchdog.Disarm();

            if (size == 0) {
                EXPECT_EQ(rig.log.fromSkype, loggedBefore) << "an empty message is no notification";
            } else {
                ASSERT_GT(rig.log.fromSkype, loggedBefore) << "the notification was not logged";
                EXPECT_EQ(rig.log.lastFromSkype, received)
                    << "the text logged is not the one received: up to its first zero, within its length";
            }
            // Where no answer came in between, what the notification sets can be seen.
            if (!answersThisCase && !tokens.empty()) {
                if (tokens[0] == "currentuserhandle" && tokens.size() >= 2) {
                    EXPECT_EQ(rig.client.CurrentUserHandle(), tokens[1]);
                } else if (tokens[0] == "users") {
                    EXPECT_EQ(rig.client.Contacts().Count(), contactsBefore + tokens.size() - 1)
                        << "one contact for each handle";
                } else if (tokens[0] == "connstatus" && tokens.size() >= 2 && tokens[1] == "loggedout") {
                    EXPECT_EQ(rig.client.ConnectionFlags() & 0x0C, 0) << "logged out: detached";
                }
            }
        } else if (roll < 93) {
            // The service and the handset.
            static const int32_t kKeys[] = {'0', '1', '2', '3', '5', '9', '*', '#', 'A', 0, 0x7F};
            IMM message;
            switch (r.Below(8)) {
            case 0:
                message = Event(MSG_TYPE_HW_EVENT, NOTIFY_HOOK_STATE,
                                r.Percent(90) ? (int32_t)r.Below(2) : r.U32());
                break;
            case 1:
            case 2:
                message = Event(MSG_TYPE_HW_EVENT, NOTIFY_DTMF_KEY, r.Pick(kKeys));
                break;
            case 3:
                message = Event(MSG_TYPE_HW_EVENT, NOTIFY_VOIP_STATE,
                                r.Percent(90) ? (int32_t)r.Below(2) : r.U32());
                break;
            case 4:
                message = Event(MSG_TYPE_HW_EVENT, NOTIFY_KEYPAD_EVENT, (int32_t)r.Below(22));
                break;
            case 5:
                message = Event(MSG_TYPE_CALL_EVENT, (int32_t)r.Below(16),
                                r.Percent(70) ? atoi(maker.Make(mix).c_str()) : (int32_t)r.Below(3));
                message.Info = r.Percent(50) ? (int32_t)r.Range(0, 99999) : message.Info;
                break;
            case 6:
                message = Event(MSG_TYPE_SM2AGENT_REQUEST, 0, 0); // to the voice mail
                break;
            default:
                message = Event(MSG_TYPE_SM2AGENT_REQUEST, 1, (int32_t)r.Below(2)); // message waiting
                break;
            }
            described = "service event type " + std::to_string(message.Type) + " code " +
                        std::to_string(message.Code) + " info " + std::to_string(message.Info);
            FuzzSetCurrentCase(std::string(name) + " case " + std::to_string(index) + ": " + described);
            SCOPED_TRACE("case " + std::to_string(index) + " of seed " + std::to_string(FuzzSeed()) + ": " +
                         described);
            ++run.serviceEvents;
            watchdog.Arm(20000, described);
            rig.client.HandleAdapterEvent(message);
            watchdog.Disarm();
        } else if (roll < 97) {
            // The stutter timer (64) only plays two tones, 200 ms of waiting: seldom.
            static const UINT_PTR kTimers[] = {16, 32, 48, 16, 32, 48, 7};
            const UINT_PTR id = r.Percent(2) ? 64 : r.Pick(kTimers);
            described = "timer " + std::to_string(id);
            FuzzSetCurrentCase(std::string(name) + " case " + std::to_string(index) + ": " + described);
            ++run.ticks;
            watchdog.Arm(20000, described);
            rig.client.OnClientTimer(id);
            watchdog.Disarm();
        } else {
            // Skype's attach message: mostly "attached" again after a loss, now and then
            // pending, refused or gone; never "available again", which would broadcast.
            static const LPARAM kStatuses[] = {0, 0, 0, 1, 2, 3, 0x7777};
            const LPARAM status = r.Pick(kStatuses);
            HWND window = r.Percent(90) ? rig.skype.Window() : nullptr;
            described = "attach status " + std::to_string(status);
            FuzzSetCurrentCase(std::string(name) + " case " + std::to_string(index) + ": " + described);
            ++run.attaches;
            watchdog.Arm(20000, described);
            rig.Attach(status, window);
            watchdog.Disarm();
        }
        // A client left detached is attached again soon, so that most notifications meet a
        // connected client.
        if ((rig.client.ConnectionFlags() & 0x0C) != 0x0C && r.Percent(30)) {
            rig.Attach(0, rig.skype.Window());
        }
        if (!rig.skype.firstBad.empty()) {
            ADD_FAILURE() << "a command not as Skype takes it, " << rig.skype.firstBad << ", at case "
                          << index << " (" << described << ") of seed " << FuzzSeed();
            break;
        }
        rig.skype.sent.clear();
        if (index % 64 == 0) {
            rig.Pump();
        }
    }
    std::string kinds;
    for (const auto& [word, count] : run.kinds) {
        if (count * 100 >= run.notifications) { // the kinds of at least one in a hundred
            kinds += (kinds.empty() ? "" : " ") + word + "=" + std::to_string(count);
        }
    }
    FuzzReport(name, budget.Done(), budget.Seconds(),
               std::to_string(run.notifications) + " notifications (" + kinds + "), " +
                   std::to_string(run.answers) + " answers inside a send, " +
                   std::to_string(run.serviceEvents) + " service events, " + std::to_string(run.ticks) +
                   " timer ticks, " + std::to_string(run.attaches) + " attach messages, " +
                   std::to_string(rig.skype.commands) + " commands to Skype, " +
                   std::to_string(rig.log.toService) + " messages to the service, " +
                   std::to_string(rig.client.oldVersionBoxes) + " old-version boxes");
}

TEST(SkypeFuzz, Notifications) {
    FuzzNotifications("Skype notifications", NotificationMix::kAll, 0, 20000);
}

// Skype may answer a command before the agent's send of it returns.
TEST(SkypeFuzz, NotificationsAnsweredInsideTheAgentsSends) {
    FuzzNotifications("Skype answers inside sends", NotificationMix::kNoVoicemail, 15, 15000);
}

// The same with the voicemail notifications too: the voicemail list is walked while each
// send lets Skype's answers change it (the regression tests of SkypeFuzzRegressionTest.cpp).
TEST(SkypeFuzz, VoicemailNotificationsAnsweredInsideTheAgentsSends) {
    FuzzNotifications("Skype voicemail answers inside sends", NotificationMix::kAll, 15, 15000);
}

// The commands the client sends: whatever the text, what reaches Skype is UTF-8 with its
// zero, and a text whose UTF-8 form is longer than 255 bytes is not sent at all.
TEST(SkypeFuzz, CommandsToSkype) {
    FuzzRandom r = FuzzStream("skype commands");
    FuzzBudget budget(20000);
    SkypeRig rig;
    ASSERT_TRUE(rig.Start());
    size_t sent = 0, refused = 0;
    while (budget.More() && !::testing::Test::HasFailure()) {
        std::string text;
        const uint32_t length = r.Percent(80) ? r.Below(120) : r.Range(120, 600);
        const bool ascii = r.Percent(50);
        for (uint32_t i = 0; i < length; ++i) {
            text += ascii ? (char)r.Range(0x20, 0x7E) : (char)r.Range(1, 255);
        }
        SCOPED_TRACE("command \"" + Printable(text) + "\" of seed " + std::to_string(FuzzSeed()));
        FuzzSetCurrentCase("command " + Printable(text));
        // The length of its UTF-8 form, through the code page the client converts from.
        const int wide = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
        std::wstring units((size_t)wide, L'\0');
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, units.data(), wide);
        const int utf8 = WideCharToMultiByte(CP_UTF8, 0, units.c_str(), -1, nullptr, 0, nullptr, nullptr);
        const bool fits = wide <= 256 && utf8 <= 256;

        rig.skype.sent.clear();
        if (r.Percent(50)) {
            rig.client.SendMessageToApiServer(text);
        } else {
            rig.client.SendMessageToApiServer(text.c_str());
        }
        ASSERT_EQ(rig.skype.firstBad, "");
        if (!fits) {
            EXPECT_TRUE(rig.skype.sent.empty()) << "a command of " << utf8 - 1 << " UTF-8 bytes was sent";
            ++refused;
            continue;
        }
        ASSERT_EQ(rig.skype.sent.size(), 1u) << "a command that fits was not sent";
        ++sent;
        if (ascii) {
            EXPECT_EQ(rig.skype.sent[0], text);
        } else {
            // Back from UTF-8 to the code page: the text as it was.
            const std::string& got = rig.skype.sent[0];
            std::wstring back(got.size() + 1, L'\0');
            const int units2 =
                MultiByteToWideChar(CP_UTF8, 0, got.c_str(), -1, back.data(), (int)back.size());
            back.resize(units2 > 0 ? (size_t)units2 - 1 : 0);
            EXPECT_TRUE(back == units.substr(0, units.size() - 1)) << "the UTF-8 sent is not the text";
        }
    }
    FuzzReport("Skype commands", budget.Done(), budget.Seconds(),
               std::to_string(sent) + " sent, " + std::to_string(refused) + " too long and not sent");
}

} // namespace
