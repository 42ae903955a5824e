// ThinkItSim.exe: a stand-in for ThinkIt's window-message API as the agent uses it: the
// Skype stand-in's engine (script, window, checks) with ThinkIt's registered messages
// "ThinkITControlAPIDiscover" and "ThinkITControlAPIAttach" and its attach statuses (0
// attached, 1 pending authorisation, 2 refused, 3 not available, 0x8001 available again).
// ThinkIt takes its commands in the system's ANSI code page, of any length: every command
// is checked for the handshake, its sender, its data word and its one terminating zero,
// and must not be empty; its bytes are not taken for UTF-8.
#include "SkypeSim/TextApiSim.h"
#include "ThinkItSim/TextApiSimProfiles.h"

int main(int argc, char** argv) {
    return orvin::skypesim::RunTextApiSim(argc, argv, orvin::skypesim::kThinkItSimProfile);
}
