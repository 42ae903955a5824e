// TessaroHost.exe: a Tessaro client held as the agent holds its client, for the tests:
// no softphone type selects Tessaro, so the agent never makes one. It makes a
// CTessaroApiClient with its real message engine, gives it the configuration block, runs
// Init with the registry root of its command line (the adapter's service is the one at
// \\.\pipe\VCORE\IOMAN, adapter 0) and OnVoipAdapterAttach, then runs the GUI thread's
// message loop until the engine is told "MonitorNotifyAgentShutdown" on the application
// channel, and closes as the agent does (OnApiServerDetached, PrepareForClosing).
//
// usage: TessaroHost.exe ROOT [--window-control]
//   --window-control   SFWindowContol on: Tessaro's window follows the line
// Standard output: every traffic line of the event log, with its direction's prefix
// ("[AG-->SF]==>get Tessaroversion", "[AG-->SM]==>MSG_TYPE_AGENT_EVENT: ...").
#include "softphone/OrvinApiClient.h"
#include "softphone/thinkit/TessaroApiClient.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

class PrintingDialog : public IOrvinAgentDialog {
public:
    void SetApiClient(COrvinApiClient*) override {}
    void SetMessageEngine(CMessageEngine*) override {}
    void SetRegistryRoot(const std::string&) override {}
    void RefreshStatus() override {}
    void AddTrafficLine(const char* text, int direction) override {
        const char* prefix = TrafficPrefix(direction);
        printf("%s%s\n", prefix ? prefix : "", text);
        fflush(stdout);
    }
    void RingIndicationOn() override {}
    void RingIndicationOff() override {}
    void BusyIndication() override {}
    bool IsCallRecording() override { return false; }
    void StopCallRecording() override {}
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || (argc == 3 && strcmp(argv[2], "--window-control") != 0)) {
        fprintf(stderr, "usage: TessaroHost.exe ROOT [--window-control]\n");
        return 2;
    }
    CConfigParams params;
    params.m_nSoftphoneWindowControl = argc == 3 ? 1 : 0;
    PrintingDialog dialog;
    {
        CTessaroApiClient client;
        client.SetConfigParams(&params);
        client.Init(&dialog, argv[1]);
        client.OnVoipAdapterAttach();
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        client.OnApiServerDetached();
        client.PrepareForClosing();
    }
    printf("closed\n");
    return 0;
}
