// TessaroSim.exe: a stand-in for Tessaro's window-message API as the agent uses it: the
// Skype stand-in's engine (script, window, checks) with Tessaro's registered messages
// "TessaroControlAPIDiscover" and "TessaroControlAPIAttach" and its attach statuses (0
// attached, 1 not available, 2 available: the agent discovers anew). Its window has
// Skype's main window class, as Tessaro's has (the agent shows and hides it by that
// class), so it can not run beside a Skype or SkypeSim. Tessaro takes its commands in the
// system's ANSI code page, of any length; none may be empty.
#include "SkypeSim/TextApiSim.h"
#include "ThinkItSim/TextApiSimProfiles.h"

int main(int argc, char** argv) {
    return orvin::skypesim::RunTextApiSim(argc, argv, orvin::skypesim::kTessaroSimProfile);
}
