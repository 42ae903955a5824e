// CEyebeamApiClient: the API client for EyeBeam (softphone type 4). EyeBeam's API is a pair
// of registered window messages for the handshake (CEyebeamMessageEngine) and WM_COPYDATA
// records shaped like the adapter's IMM message (EyebeamRecord.h). The agent does not dial
// numbers itself: it forwards each handset key to EyeBeam and tells it when the number is
// complete (the send key after two or more digits); EyeBeam reports its call states, which
// go on to the adapter's service under the call id 1000. Event 900 (EyeBeam's ringing
// stopped) turns a call being placed into one in progress and a ringing call into a
// finished one.
//
// Records from EyeBeam are read only as far as they go: one shorter than 8 bytes (type
// and event) is traced and ignored, and nothing after the event is read.
//
// Threads: GUI thread only (the engine's window messages, and the adapter's events, which
// the base hands over to this thread).
#pragma once

#include "softphone/OrvinApiClient.h"
#include "softphone/eyebeam/EyebeamMessageEngine.h"

#include <memory>

class CEyebeamApiClient : public COrvinApiClient {
public:
    static constexpr int kCallId = 1000;

    CEyebeamApiClient();
    explicit CEyebeamApiClient(IMixerApi& mixers);
    ~CEyebeamApiClient() override;

    void ConnectToApiServer() override;
    void OnApiServerMessage(const COPYDATASTRUCT* message) override;
    void OnApiServerAttached() override;
    void OnApiServerDetached() override;
    void OnApiServerConnected() override;
    void OnApiServerDisconnect() override;
    void SelectAudioDevices(bool toAdapter) override {}
    void SetCallStatus(int status, int info) override;
    void OnDtmfKey(const IMM& message) override;
    void OnHookState(const IMM& message) override;

    // One 620-byte record to EyeBeam.
    virtual void SendEventToSoftphone(int type, int code, int info);

    CEyebeamMessageEngine* Engine() const { return m_pEngine.get(); }

private:
    void Construct();
    void LogConnected();

    std::unique_ptr<CEyebeamMessageEngine> m_pEngine;
};
