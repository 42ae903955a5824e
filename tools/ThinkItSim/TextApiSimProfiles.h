// The profiles that make the Skype stand-in's program play ThinkIt and Tessaro (SimProfile.h):
// their window classes, registered messages, attach statuses and command rules.
#pragma once

#include "SkypeSim/SimProfile.h"

namespace orvin::skypesim {

// Tessaro's attach statuses: 0 attached, 1 not available, 2 available.
extern const AttachStatusNames kTessaroAttachStatuses;
extern const SimProfile kThinkItSimProfile;
extern const SimProfile kTessaroSimProfile;

} // namespace orvin::skypesim
