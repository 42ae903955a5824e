#include "TextApiSimProfiles.h"

namespace orvin::skypesim {

namespace {

const AttachStatusNames::Entry kTessaroAttachNames[] = {{"success", 0}, {"unavailable", 1}, {"available", 2}};

} // namespace

const AttachStatusNames kTessaroAttachStatuses = {
    kTessaroAttachNames, sizeof kTessaroAttachNames / sizeof kTessaroAttachNames[0], 0, 1, 2};

const SimProfile kThinkItSimProfile = {
    "ThinkItSim",
    "ThinkIt",
    "TThinkItMainForm",
    "ThinkIt",
    "ThinkITControlAPIDiscover",
    "ThinkITControlAPIAttach",
    "OrvinThinkItSim.SingleInstance",
    "ANSI text of any length, one per message",
    &kSkypeAttachStatuses, // ThinkIt numbers them as Skype does
    &kAnsiCommandRules,
};

// Tessaro's main window has Skype's class (the agent shows and hides it by that class).
const SimProfile kTessaroSimProfile = {
    "TessaroSim",
    "Tessaro",
    "tSkMainForm.UnicodeClass",
    "Tessaro",
    "TessaroControlAPIDiscover",
    "TessaroControlAPIAttach",
    "OrvinTessaroSim.SingleInstance",
    "ANSI text of any length, one per message",
    &kTessaroAttachStatuses,
    &kAnsiCommandRules,
};

} // namespace orvin::skypesim
