// What the Skype client's fuzzers share: Skype's API window as the agent's commands reach it
// (each command checked for the form Skype takes: UTF-8, at most 255 bytes, one terminating
// zero), the client with its old-version box counted rather than shown, the main dialog as
// the client logs its traffic to it, and the generator of Skype's notifications.
#pragma once

#include "softphone/skype/SkypeApiClient.h"
#include "tests/agent/audiodevices/FakeMixers.h"
#include "tests/lib/fuzz/Fuzz.h"
#include "tests/lib/fuzz/GuardedPage.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace skype_fuzz {

// A window of the test's thread that the client takes for Skype's API window.
class SkypeWindow {
public:
    SkypeWindow();
    ~SkypeWindow();
    SkypeWindow(const SkypeWindow&) = delete;
    SkypeWindow& operator=(const SkypeWindow&) = delete;

    HWND Window() const { return m_hWnd; }

    // Called with each command inside the agent's send, before the send returns: Skype may
    // answer at once.
    std::function<void(const std::string&)> onCommand;

    size_t commands = 0;
    // The first command that was not as Skype takes it, described; empty while all were.
    std::string firstBad;
    std::vector<std::string> sent; // since the test last emptied it

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Take(const COPYDATASTRUCT* data);
    HWND m_hWnd = nullptr;
};

// The main dialog as the client reports to it: the lines it logs, by direction.
class TrafficLog : public IOrvinAgentDialog {
public:
    void SetApiClient(COrvinApiClient*) override {}
    void SetMessageEngine(CMessageEngine*) override {}
    void SetRegistryRoot(const std::string&) override {}
    void RefreshStatus() override {}
    void AddTrafficLine(const char* text, int direction) override;
    void RingIndicationOn() override {}
    void RingIndicationOff() override {}
    void BusyIndication() override {}
    bool IsCallRecording() override { return false; }
    void StopCallRecording() override {}

    size_t fromSkype = 0; // direction 1
    std::string lastFromSkype;
    size_t toService = 0; // direction 4
};

class FuzzedSkypeClient : public CSkypeApiClient {
public:
    using CSkypeApiClient::CSkypeApiClient;
    int oldVersionBoxes = 0;

protected:
    void ShowOldVersionBox() override { ++oldVersionBoxes; }
};

// The client on the test's Skype window, attached and ready, with the adapter's sound
// device found at once (no search thread) and a minimum Skype version of 3.0.0.0.
class SkypeRig {
public:
    SkypeRig() : m_mixers({FakeMixer{"Orvin Virtual Audio Device", true, true}}), client(m_mixers) {
        m_params.m_nMinSoftphoneVersion[0] = 3; // "3.0.0.0": older versions are told
        client.SetConfigParams(&m_params);
        client.SetMainDialog(&log);
    }
    bool Start() {
        if (!client.Engine()->Create(&client) || !skype.Window()) {
            return false;
        }
        Attach(0, skype.Window());
        return (client.ConnectionFlags() & 0x0C) == 0x0C;
    }
    // Skype's attach message with its status.
    void Attach(LPARAM status, HWND window) {
        SendMessageA(client.Engine()->Window(), client.Engine()->AttachMessage(), (WPARAM)window, status);
    }
    // One WM_COPYDATA of `size` bytes of `text` (and its zero), ending where the page ends.
    // False when the bytes do not fit the page.
    bool Deliver(const std::string& text, size_t size, GuardedPage& page, ULONG_PTR dwData) {
        std::string bytes = text;
        bytes += '\0';
        void* at = page.Place(bytes.data(), size);
        if (!at) {
            return false;
        }
        COPYDATASTRUCT data = {dwData, (DWORD)size, at};
        SendMessageA(client.Engine()->Window(), WM_COPYDATA, (WPARAM)skype.Window(), (LPARAM)&data);
        return true;
    }
    // A notification as Skype sends it, with its zero.
    void Notify(const std::string& text) {
        GuardedPage page(text.size() + 1);
        Deliver(text, text.size() + 1, page, 0);
    }
    // The test thread's messages, but no timer: the fuzzer ticks the timers itself, so
    // that a seed gives the same run whatever the clock does.
    void Pump() {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, WM_TIMER - 1, PM_REMOVE) ||
               PeekMessageA(&message, nullptr, WM_TIMER + 1, 0xFFFF, PM_REMOVE)) {
            if (message.message != WM_QUIT) {
                DispatchMessageA(&message);
            }
        }
    }

    SkypeWindow skype;
    TrafficLog log;

private:
    FakeMixers m_mixers;
    CConfigParams m_params;

public:
    FuzzedSkypeClient client;
};

// What the generator may make.
enum class NotificationMix {
    kAll,
    kNoVoicemail, // nothing that names a voicemail
};

// Skype's notifications: the words each handler knows, in any case, with the ids and
// handles of earlier notifications often used again so that sequences reach deep states;
// and random words and numbers, missing and extra tokens, runs of separators, long
// texts, bytes that are not UTF-8 and zero bytes inside the text.
class NotificationMaker {
public:
    explicit NotificationMaker(FuzzRandom& r) : m_r(r) {}
    std::string Make(NotificationMix mix = NotificationMix::kAll);
    const std::string& Recipe() const { return m_recipe; }

private:
    std::string Handle();
    std::string CallId();
    std::string VoicemailId();
    std::string RandomWord();
    std::string AnyCase(const std::string& word);
    template <size_t N> std::string Pick(const char* const (&words)[N]) {
        return m_r.Percent(85) ? AnyCase(words[m_r.Below((uint32_t)N)]) : RandomWord();
    }
    std::vector<std::string> Tokens(NotificationMix mix);
    std::string Join(const std::vector<std::string>& tokens);

    FuzzRandom& m_r;
    std::vector<std::string> m_handles{"alice", "bob", "echo123", "some.one"};
    std::vector<std::string> m_callIds{"1234", "77"};
    std::vector<std::string> m_voicemailIds{"11", "12", "13"};
    std::string m_recipe;
};

} // namespace skype_fuzz
