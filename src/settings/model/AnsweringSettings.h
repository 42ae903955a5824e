// The answering machine's and remote access's settings below <root>\Config\IVR (and its
// Pstn and Voip keys), as the voice dialogues read them at every call:
//   Pin                    REG_SZ     the remote-access PIN (PinRule.h); empty: closed
//   VoiceMsgDurationSec    REG_DWORD  longest voice message
//   AMGreetingDurationSec  REG_DWORD  longest greeting recorded on the telephone
//   RecordGreetingOnPound  REG_DWORD  a greeting recording is kept only when ended with '#'
//   UserDefinedLanguage    REG_SZ     the voice menus' language; empty: the system's
//   Pstn\EnableAdminMode, Voip\EnableAdminMode  REG_DWORD  '*' leads to the PIN entry
//                                                for callers from the line / the softphone
// Input is checked whole before anything is added to the changes; a value the user left
// as it was is neither checked nor written again.
//
// Threads: no state; any thread.
#pragma once

#include <string>
#include <vector>

class CRegistryChanges;

struct AnsweringValues {
    bool pinSet = false;
    int voiceMessageSeconds = 30;
    int greetingSeconds = 20;
    bool recordGreetingOnPound = true;
    bool pstnAdmin = true;
    bool voipAdmin = true;
    std::string language; // "" automatic
};

// What the page holds: the numbers as typed.
struct AnsweringInput {
    std::string newPin;
    std::string repeatedPin;
    std::string voiceMessageSeconds;
    std::string greetingSeconds;
    bool recordGreetingOnPound = true;
    bool pstnAdmin = true;
    bool voipAdmin = true;
    std::string language;
};

// Which input a problem is about, so that the page can put the caret there.
enum class AnsweringField { kNone, kPin, kRepeatedPin, kVoiceMessage, kGreeting, kLanguage };

class CAnsweringSettings {
public:
    static constexpr int kMinVoiceMessageSeconds = 5;
    static constexpr int kMaxVoiceMessageSeconds = 600;
    static constexpr int kMinGreetingSeconds = 5;
    static constexpr int kMaxGreetingSeconds = 120;

    static AnsweringValues Load(const std::string& root);
    // The languages the voice menus are installed in: folders of <ivrFolder> with a
    // Menu.cfg, in name order.
    static std::vector<std::string> InstalledLanguages(const std::string& ivrFolder);
    // Checks `input` against the rules and the installed languages, and adds to `changes`
    // what differs from `current`. False on bad input (nothing added), with the problem in
    // words (English) and its field.
    static bool Prepare(const std::string& root, const AnsweringValues& current, const AnsweringInput& input,
                        const std::vector<std::string>& languages, CRegistryChanges& changes,
                        std::string* problem, AnsweringField* field);
};
