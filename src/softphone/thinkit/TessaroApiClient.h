// CTessaroApiClient: the client for Tessaro, a softphone with a text API over window
// messages of the same kind as Skype's ("TessaroControlAPIDiscover" and
// "TessaroControlAPIAttach"). No softphone type selects it at start-up; it is kept so that
// the type can be added. It is a text-API client (CTextApiClient) that differs from the
// Skype client where Tessaro does:
//   - commands go as they are, in the system's ANSI code page, of any length; an empty one
//     is not sent;
//   - the discover is sent to every top-level window at once; attach status 0 is attached,
//     1 "not available" (detached), 2 "available" (a new discover follows);
//   - on connecting it asks for "Tessaroversion" and the protocol, points Tessaro's audio
//     at the adapter's devices by their plain names (from a thread when they are not there
//     yet), then asks for the voicemails (whose answers it ignores) and the friends;
//   - a ping every 10 s while attached; the engine's every tick pings;
//   - do-not-disturb is online status 3; no voicemail session; "unplaced" is a call status
//     the service is told of; the keypad's softphone button is "btn_released Tessaro";
//   - a disconnect ends the call but leaves the engine (and its timer) as it is;
//   - its main window (of Skype's class) is shown normally or minimised and hidden.
//
// Threads: GUI thread, except the audio-device search thread (see CTextApiClient).
#pragma once

#include "softphone/TextApiClient.h"

class CTessaroApiClient : public CTextApiClient {
public:
    CTessaroApiClient();
    explicit CTessaroApiClient(IMixerApi& mixers);
    ~CTessaroApiClient() override;

    void OnApiServerConnected() override;
    void ControlSoftphoneWindow(bool toVoip) override;
    void OnLineState(const IMM& message) override;
    void Ping() override;
    void OnClientTimer(UINT_PTR id) override;

protected:
    void OnAudioDevicesFoundLate() override;

private:
    void Construct();
};
