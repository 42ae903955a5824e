// OrvinSettings.exe: the settings program of the product, started by the agent's tray
// (Configure, or a double-click on the icon) as its monitor program.
#include "settings/SettingsApp.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    CSettingsApp app;
    return app.Run(commandLine);
}
