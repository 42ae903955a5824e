// Where the answering machine keeps its files and its count, and the rules both its
// programs follow: the voice dialogues (the handset's side) and the settings program (the
// PC's side). A message deleted on either side lowers VoiceMessageWaiting the same way,
// and both find the greeting in the same language folder.
//
//   voice messages  <installation>\IVR\VoiceMail\vm*.wav
//   greeting        <installation>\IVR\<language>\UserAMGreeting.wav
//   count           VoiceMessageWaiting (REG_DWORD) below <root>\Config\IVR
//
// A language comes from the registry (UserDefinedLanguage, SupportedLanguages), which
// every user of the machine may be allowed to write; it is only ever a folder's name below
// <installation>\IVR, so a name that could lead anywhere else is refused.
//
// Threads: no state; any thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

constexpr const char* kVoiceMailFolderName = "VoiceMail";
constexpr const char* kVoiceMailFolder = "\\IVR\\VoiceMail";
constexpr const char* kVoiceMessagePattern = "vm*.wav";
constexpr const char* kGreetingFile = "UserAMGreeting.wav";

// "German;English" as its names, empty parts left out.
std::vector<std::string> SplitLanguages(const std::string& languages);
// The voice menus' language: the user's choice when set, else the system's language when
// it is supported, else the first supported one; empty when there is none. A name that is
// not a language folder's name counts as not set.
std::string ChooseIvrLanguage(const std::string& userDefined, const std::vector<std::string>& supported,
                              const std::string& systemLanguage);
// A single folder name: not empty, no path separator, drive colon or wildcard, not "." or
// "..", no control characters.
bool IsPlainFolderName(const std::string& name);
// A plain folder name that can only name a language's folder: never the voice-mail folder,
// where every user may add files (a Menu.cfg among them), under any of its other spellings
// (case, a short name with '~', trailing dots or spaces, which Windows drops).
bool IsLanguageFolderName(const std::string& name);
// The English name of the system's default language ("English").
std::string SystemLanguageName();

// One message deleted: one less, never below 0.
int CountAfterDeletion(int count);
// VoiceMessageWaiting below root\Config\IVR: false (and `count` untouched) when missing.
bool ReadVoiceMessageWaiting(const std::string& root, int* count);
// The registry's result code.
LONG WriteVoiceMessageWaiting(const std::string& root, int count);
