// CSkypeMessageEngine: the Skype client's window on the Skype desktop API. It broadcasts
// the registered "SkypeControlAPIDiscover" message with its own window, takes Skype's
// "SkypeControlAPIAttach" answer (the API window and an attach status), and exchanges one
// command or notification per WM_COPYDATA with the API window. The client's timers run on
// this window; their ticks go to the client's OnClientTimer.
//
// Attach status: 0 attached, 1 pending authorisation, 2 refused, 3 not available,
// 0x8001 available again (a new discover follows at once).
//
// The engine is the text-API engine with Skype's table (message names, attach statuses,
// traces); see CTextMessageEngine for the sends and their time-out.
//
// Threads: GUI thread, except DispatchMessageToApiServer, which the audio-device search
// thread may also call (a synchronous send of a record of its own).
#pragma once

#include "softphone/TextMessageEngine.h"

class CSkypeApiClient;

class CSkypeMessageEngine : public CTextMessageEngine {
public:
    explicit CSkypeMessageEngine(CSkypeApiClient* client);

    LRESULT DispatchMessageToSkype(COPYDATASTRUCT* data) { return DispatchText(data); }
    HWND SkypeApiWindow() const { return ApiWindow(); }
};
