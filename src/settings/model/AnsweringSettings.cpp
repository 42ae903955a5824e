#include "settings/model/AnsweringSettings.h"

#include "base/config/Registry.h"
#include "ivr/VoiceMailStore.h"
#include "settings/model/PinRule.h"
#include "settings/model/RegistryChanges.h"

#include <algorithm>

using orvin::RegKey;
using orvin::SubKey;

namespace {

// A whole number from min to max, as typed; false for anything else. The value the
// registry holds already is taken as it is (an administrator may have set it outside the
// range, and a user changing something else must not be stopped by it).
bool ParseSeconds(const std::string& text, int current, int min, int max, int* seconds) {
    if (text == std::to_string(current)) {
        *seconds = current;
        return true;
    }
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const int value = std::stoi(text);
    if (value < min || value > max) {
        return false;
    }
    *seconds = value;
    return true;
}

std::string Range(const char* what, int min, int max) {
    return std::string(what) + " is a number of seconds from " + std::to_string(min) + " to " +
           std::to_string(max) + ".";
}

} // namespace

AnsweringValues CAnsweringSettings::Load(const std::string& root) {
    AnsweringValues values;
    RegKey key;
    DWORD number = 0;
    if (key.Open(HKEY_LOCAL_MACHINE, SubKey(root, "Config\\IVR").c_str()) == ERROR_SUCCESS) {
        std::string pin;
        values.pinSet = key.QueryString("Pin", &pin, 260) == ERROR_SUCCESS && !pin.empty();
        // Missing numbers read as the dialogues read them: 0.
        values.voiceMessageSeconds =
            key.QueryDword("VoiceMsgDurationSec", &number) == ERROR_SUCCESS ? (int)number : 0;
        values.greetingSeconds =
            key.QueryDword("AMGreetingDurationSec", &number) == ERROR_SUCCESS ? (int)number : 0;
        values.recordGreetingOnPound =
            key.QueryDword("RecordGreetingOnPound", &number) == ERROR_SUCCESS && number;
        key.QueryString("UserDefinedLanguage", &values.language, 260);
    }
    values.pstnAdmin =
        key.Open(HKEY_LOCAL_MACHINE, SubKey(root, "Config\\IVR\\Pstn").c_str()) == ERROR_SUCCESS &&
        key.QueryDword("EnableAdminMode", &number) == ERROR_SUCCESS && number;
    values.voipAdmin =
        key.Open(HKEY_LOCAL_MACHINE, SubKey(root, "Config\\IVR\\Voip").c_str()) == ERROR_SUCCESS &&
        key.QueryDword("EnableAdminMode", &number) == ERROR_SUCCESS && number;
    return values;
}

std::vector<std::string> CAnsweringSettings::InstalledLanguages(const std::string& ivrFolder) {
    std::vector<std::string> languages;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((ivrFolder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return languages;
    }
    do {
        const std::string name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsLanguageFolderName(name) &&
            GetFileAttributesA((ivrFolder + "\\" + name + "\\Menu.cfg").c_str()) != INVALID_FILE_ATTRIBUTES) {
            languages.push_back(name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(languages.begin(), languages.end());
    return languages;
}

bool CAnsweringSettings::Prepare(const std::string& root, const AnsweringValues& current,
                                 const AnsweringInput& input, const std::vector<std::string>& languages,
                                 CRegistryChanges& changes, std::string* problem, AnsweringField* field) {
    auto refuse = [&](AnsweringField which, const std::string& text) {
        *problem = text;
        *field = which;
        return false;
    };
    if (!input.newPin.empty() || !input.repeatedPin.empty()) {
        const PinProblem pinProblem = CheckPin(input.newPin);
        if (pinProblem != PinProblem::kNone) {
            return refuse(AnsweringField::kPin, PinProblemText(pinProblem));
        }
        if (input.repeatedPin != input.newPin) {
            return refuse(AnsweringField::kRepeatedPin, "The PIN and its repetition differ.");
        }
    }
    int voiceMessageSeconds = 0, greetingSeconds = 0;
    if (!ParseSeconds(input.voiceMessageSeconds, current.voiceMessageSeconds, kMinVoiceMessageSeconds,
                      kMaxVoiceMessageSeconds, &voiceMessageSeconds)) {
        return refuse(AnsweringField::kVoiceMessage,
                      Range("The longest voice message", kMinVoiceMessageSeconds, kMaxVoiceMessageSeconds));
    }
    if (!ParseSeconds(input.greetingSeconds, current.greetingSeconds, kMinGreetingSeconds,
                      kMaxGreetingSeconds, &greetingSeconds)) {
        return refuse(AnsweringField::kGreeting,
                      Range("The longest greeting", kMinGreetingSeconds, kMaxGreetingSeconds));
    }
    if (!input.language.empty() &&
        std::find(languages.begin(), languages.end(), input.language) == languages.end()) {
        return refuse(AnsweringField::kLanguage,
                      "The voice menus are not installed in " + input.language + ".");
    }

    const std::string ivr = SubKey(root, "Config\\IVR");
    if (!input.newPin.empty()) {
        changes.SetString(ivr, "Pin", input.newPin);
    }
    if (voiceMessageSeconds != current.voiceMessageSeconds) {
        changes.SetDword(ivr, "VoiceMsgDurationSec", (DWORD)voiceMessageSeconds);
    }
    if (greetingSeconds != current.greetingSeconds) {
        changes.SetDword(ivr, "AMGreetingDurationSec", (DWORD)greetingSeconds);
    }
    if (input.recordGreetingOnPound != current.recordGreetingOnPound) {
        changes.SetDword(ivr, "RecordGreetingOnPound", input.recordGreetingOnPound ? 1 : 0);
    }
    if (input.language != current.language) {
        changes.SetString(ivr, "UserDefinedLanguage", input.language);
    }
    if (input.pstnAdmin != current.pstnAdmin) {
        changes.SetDword(SubKey(root, "Config\\IVR\\Pstn"), "EnableAdminMode", input.pstnAdmin ? 1 : 0);
    }
    if (input.voipAdmin != current.voipAdmin) {
        changes.SetDword(SubKey(root, "Config\\IVR\\Voip"), "EnableAdminMode", input.voipAdmin ? 1 : 0);
    }
    return true;
}
