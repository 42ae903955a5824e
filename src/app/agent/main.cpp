// OrvinAgent.exe: the application object's run is the program's run.
#include "OrvinAgentApp.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    COrvinAgentApp app;
    app.InitInstance();
    return 0;
}
