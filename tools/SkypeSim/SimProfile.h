// What makes the Skype stand-in's engine (its window, script and checks) play one softphone
// of Skype's kind: the window's class and title, the registered discover and attach
// messages, the attach statuses, and the rules of the commands' texts. SkypeSim plays
// Skype with kSkypeSimProfile; the stand-ins of Tessaro and ThinkIt bring their own.
#pragma once

#include "SkypeChecks.h"
#include "SkypeScript.h"

namespace orvin::skypesim {

struct SimProfile {
    const char* program;         // "SkypeSim": messages, the log's name
    const char* softphone;       // "Skype"
    const char* windowClass;     // the stand-in's window class (ASCII)
    const char* windowTitle;     // its title
    const char* discoverMessage; // the registered messages' names
    const char* attachMessage;
    const char* singleInstance; // the name of the mutex that keeps one stand-in running
    const char* encoding;       // what the commands are, in words (for --help)
    const AttachStatusNames* statuses;
    const CommandRules* rules;
};

extern const SimProfile kSkypeSimProfile;

// An ASCII text as UTF-16, for the Windows calls.
std::wstring Widen(const char* text);

} // namespace orvin::skypesim
