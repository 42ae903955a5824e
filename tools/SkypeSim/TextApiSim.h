// The whole program of a stand-in of Skype's kind, played with a profile (SimProfile.h):
// the options (--script, --interactive, --log, --quiet, --log-qpc, --lenient, --check,
// --help), the script or the interactive session, and the exit status (0 every
// expectation met, 1 a command failed or the agent broke the protocol, 2 bad options or
// script, 3 another window of the softphone's class).
#pragma once

#include "SimProfile.h"

namespace orvin::skypesim {

int RunTextApiSim(int argc, char** argv, const SimProfile& profile);

} // namespace orvin::skypesim
