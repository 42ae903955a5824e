// SkypeSim.exe: a stand-in for Skype's desktop API as the agent uses it. A top-level
// window of Skype's main window class answers the agent's discover broadcast with the
// attach message of the status the script asks for, takes the agent's commands
// (WM_COPYDATA, UTF-8, one per message) and sends notifications the same way, by script
// and by standing answers. It also checks every command the agent sends (SkypeChecks.h),
// so a test catches an agent fault even where no expect-command names it. The program
// itself is shared with the stand-ins of the softphones of Skype's kind (TextApiSim.h).
#include "TextApiSim.h"

int main(int argc, char** argv) {
    return orvin::skypesim::RunTextApiSim(argc, argv, orvin::skypesim::kSkypeSimProfile);
}
