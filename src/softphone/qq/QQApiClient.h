// QQApiClient: the API client for QQ (softphone type 1). Its transport is CQQMessageEngine:
// three registered window messages for the handshake, and WM_COPYDATA messages whose data
// identifier is an event and whose data are tag-length-value items (QQItems.h). QQ gets the
// dialled number whole when the send key is pressed (tag 3 for fewer than three digits,
// tag 1 otherwise); QQ reports call states with a call handle and the caller's texts, and
// the agent passes them on to the adapter's service with the handle as the call id. The
// service's call requests become QQ call statuses (ToQQCallStatus): an answer (145), an
// end (146) or a status QQ is told of (busy, hold, resume). When the handset goes off hook
// on VoIP, or the line turns to VoIP, while IVR messages are stored and no call rings or
// runs, the telephone plays the message-waiting signal twice.
//
// Items from QQ are read only within the data QQ sent, at most 23 bytes of each value: an
// item that runs past the data, a text without its terminator, or an item a status needs
// and the message lacks is traced, and the message is handled with what is there.
//
// Threads: GUI thread only (the engine's window messages and timers, and the adapter's
// events, which the base hands over to this thread). UpdateVoiceMailsState pauses that
// thread for 200 ms between and after its two signals.
#pragma once

#include "softphone/OrvinApiClient.h"
#include "softphone/qq/QQItems.h"
#include "softphone/qq/QQMessageEngine.h"

#include <memory>
#include <vector>

class QQApiClient : public COrvinApiClient {
public:
    // The message-waiting signal: played twice, each followed by a pause.
    static constexpr int kSignalTone[4] = {1, 4000, 600, 80};
    static constexpr DWORD kSignalPauseMs = 100;

    QQApiClient();
    explicit QQApiClient(IMixerApi& mixers);
    ~QQApiClient() override;

    void ConnectToApiServer() override;
    void OnApiServerMessage(const COPYDATASTRUCT* message) override;
    void OnApiServerAttached() override;
    void OnApiServerDetached() override;
    void OnApiServerConnected() override;
    void OnApiServerDisconnect() override;
    void OnVoipAdapterAttach() override;
    void SelectAudioDevices(bool toAdapter) override;
    void SetCallStatus(int status, int info) override;
    void OnDtmfKey(const IMM& message) override;
    void OnHookState(const IMM& message) override;
    void OnLineState(const IMM& message) override;

    // The agent's call status as a QQ call status (0 for none).
    virtual int ToQQCallStatus(int status) const;
    // One event with its items to QQ.
    virtual void SendToSoftphone(uint32_t event, const void* data, size_t length);
    void HandleCallStatusChange(int status);
    void UpdateVoiceMailsState();
    // A call status for the service: Type, Code (the session state), Info (the call id),
    // Buffer1 (the caller's text) and Buffer2 (a former call handle), the rest zero.
    virtual void ReportCallStatus(const IMM& record);

    CQQMessageEngine* Engine() const { return m_pEngine.get(); }

private:
    void Construct();
    void LogConnected();
    void SendItems(uint32_t event, const std::vector<uint8_t>& items) {
        SendToSoftphone(event, items.data(), items.size());
    }
    void OnCallStatusMessage(qq::CQQItemReader& reader, int status, size_t length);

    std::unique_ptr<CQQMessageEngine> m_pEngine;
};
