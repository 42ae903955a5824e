// OrvinAgent.exe: the application object's run is the program's run. The voice dialogues
// join the API client through the IVR manager's factory.
#include "agent/OrvinAgentApp.h"
#include "ivr/IvrManager.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    SetIvrManagerFactory(IvrManager::Factory);
    COrvinAgentApp app;
    app.InitInstance();
    return 0;
}
