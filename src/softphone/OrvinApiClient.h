// COrvinApiClient: the base of every softphone API client. It owns the adapter side of the
// agent (it is the owner of the adapter I/O manager, its first base), dispatches every
// message from the adapter's service to virtual handlers, sends the agent's own messages to
// the service, keeps the connection flags and the call-session state, answers the system's
// power queries, and shows the traffic in the trace and the main dialog's event log.
//
// Threads. The I/O manager calls the event entry on the bus's delivery thread. The entry
// does only what must happen there (it drops messages during shutdown) and posts a heap
// copy of each message to a message-only window of the client's, so that every handler
// runs on the GUI thread, in the order the service sent the messages, interleaved with the
// softphone's window messages, which arrive on the same thread through the message engine.
// All client state (flags, session, digits, hook and line) therefore belongs to the GUI
// thread; only `m_bShuttingDown` is read on the delivery thread (an atomic). No lock is
// held across a SendMessage. A client whose softphone calls it on threads of its own (a
// library's callbacks) hands that work over the same way (HandOverToGuiThread).
//
// The virtual operations are declared in their fixed slot order.
#pragma once

#include "base/config/ConfigParams.h"
#include "base/trace/DriverChannel.h"
#include "devicelink/IoManager.h"
#include "softphone/AgentLinks.h"
#include "softphone/AudioDevices.h"
#include "softphone/Tokenizer.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

class CMessageEngine;

// The client's flag word.
enum ConnectionFlags : int32_t {
    kFlagAgentUp = 0x01,
    kFlagAdapterAttached = 0x02,
    kFlagApiAttached = 0x04,
    kFlagSoftphoneReady = 0x08,
    kFlagOffHook = 0x10,
};

// Directions of a traffic line.
enum TrafficDirection : int {
    kTrafficAgent = 0,
    kTrafficSoftphoneToAgent = 1,
    kTrafficAgentToSoftphone = 2,
    kTrafficServiceToAgent = 3,
    kTrafficAgentToService = 4,
};
// "[AG]==>" and the others; null for an unknown direction.
const char* TrafficPrefix(int direction);

struct SessionState {
    int m_nCallId = 0;
    int m_nState = 9; // CALL_STATUS_FINISHED: idle
    int m_nCallType = 0;
    std::string m_CallerNumber;
    std::string m_CallerName;
};

class COrvinApiClient : public CIoManager {
public:
    COrvinApiClient();
    // With the given mixers for the adapter's audio devices (tests drive a list of their own).
    explicit COrvinApiClient(IMixerApi& mixers);

    // Slots 0 to 37.
    ~COrvinApiClient() override;
    virtual void Init(IOrvinAgentDialog* dialog, const std::string& registryRoot);
    virtual void ConnectToApiServer() = 0;
    virtual void ReloadConfiguration();
    virtual void SetMainDialog(IOrvinAgentDialog* dialog);
    virtual void SetConfigParams(CConfigParams* params);
    virtual void OnApiServerMessage(const COPYDATASTRUCT* message) {}
    virtual void OnApiServerAttached() {}
    virtual void OnApiServerDetached() {}
    virtual void OnApiServerConnected() {}
    virtual void OnApiServerDisconnect() {}
    virtual void OnVoipAdapterAttach();
    virtual void OnVoipAdapterDetach();
    virtual void Reinitialize();
    virtual LRESULT OnPowerManagementNotification(WPARAM event);
    virtual void ControlSoftphoneWindow(bool toVoip) {}
    virtual int Query() { return 0; }
    virtual void SelectAudioDevices(bool toAdapter) {}
    virtual void SetAudioIn(const char* text) {}
    virtual void SetAudioOut(const char* text) {}
    virtual void SetCallStatus(int status, int info) {}
    virtual void OnDtmfKey(const IMM& message) {}
    virtual void OnKeypadEvent(const IMM& message) {}
    virtual void LogTraffic(const char* text, int direction);
    virtual void GoToVoiceMail() {}
    virtual void SetVoiceMessageWaiting(int flag);
    virtual void StopActivity() {}
    virtual void Ping() {}
    virtual void OnHookState(const IMM& message);
    virtual void OnLineState(const IMM& message);
    virtual void RegisterWithService();
    virtual void NotifyMonitor(LPARAM lParam, WPARAM wParam);
    virtual void SendToService(int type, int code, int info, const char* buffer1 = nullptr,
                               const char* buffer2 = nullptr, const char* payload = nullptr);
    virtual void QqOnly() {}
    virtual void SendMessageToApiServer(const std::string& text) {}
    virtual void SendMessageToApiServer(const char* text) {}
    virtual void SendPlaybackSignalRequest(int a, int b, int c, int d);
    virtual void OnApiServerConnect();

    // Helpers for the clients.
    void SwitchState(int state);
    // new = set OR (old AND NOT clear); stored, and the dialog refreshed, when it changed
    // or when forced.
    void SetConnectionFlags(int32_t set, int32_t clear, bool force = false);
    int32_t ConnectionFlags() const { return m_nConnectionFlags; }
    void ClearCollectedDigits() { m_CollectedDigits.clear(); }
    void RingIndicationOn();
    void RingIndicationOff();
    void BusyIndication();
    void HandleJackSwapNotification(const IMM& message);
    // Shutdown: the voice dialogues end (their last reports still go out), NotifyAgentStatus
    // 3, the link to the service closed, a 200 ms pause, StopActivity.
    void PrepareForClosing();

    // Set by the application manager's shutdown notification; from then on every adapter
    // message is dropped.
    void SetShuttingDown() { m_bShuttingDown = true; }
    bool IsShuttingDown() const { return m_bShuttingDown; }

    // Whether the system is kept from sleeping: in a call, in a voice dialogue, or with
    // call forwarding active where that denies standby (the same rule as the answer to a
    // standby query). Re-evaluated whenever one of them may have changed; the IVR manager
    // calls it when a dialogue starts or ends.
    void UpdateStandbyHold();
    bool IsHoldingStandby() const { return m_bHoldingStandby; }
    // From any thread (the IVR's): UpdateStandbyHold runs soon on the GUI thread.
    void RequestStandbyReview();

    // SendToService of a whole record, from any thread: every byte of the buffers and the
    // payload goes as it is (the IVR's reports carry numbers in Buffer1), the record is
    // sent at once and its traffic line is logged on the GUI thread.
    void SendRecordToService(const IMM& message);

    // From any thread: `work` runs on the GUI thread, after everything handed over before
    // it (adapter messages included), so work handed over from several threads one after
    // the other runs in that order. False, and `work` never runs, when it could not be
    // handed over (before Init, or the queue refused it). Work still queued when the
    // client goes is dropped without running.
    bool HandOverToGuiThread(std::function<void()> work);

    bool InCall() const { return m_Session.m_nState >= 4 && m_Session.m_nState <= 7; }
    const SessionState& Session() const { return m_Session; }
    const std::string& DisplayName() const { return m_DisplayName; }
    const std::string& CollectedDigits() const { return m_CollectedDigits; }
    int HookState() const { return m_nHookState; }
    int LineState() const { return m_nLineState; }
    HWND MonitorWindow() const { return m_hMonitorWindow; }
    void SetMonitorWindow(HWND window) { m_hMonitorWindow = window; }
    const std::string& RegistryRoot() const { return m_RegistryRoot; }
    CConfigParams* ConfigParams() const { return pConfigParams; }
    CMessageEngine* MessageEngine() const { return m_pMessageEngine; }

    // The event entry on the GUI thread: what the posted copy of each adapter message runs.
    void HandleAdapterEvent(const IMM& message);

protected:
    CConfigParams* pConfigParams = nullptr;
    CMessageEngine* m_pMessageEngine = nullptr;
    IOrvinAgentDialog* m_pMainDialog = nullptr;
    orvin::DriverChannel m_DriverChannel;
    CTokenizer m_Tokenizer;
    std::string m_Text1, m_Text2, m_Text3;
    CAudioDevices m_AudioDevices;
    SessionState m_Session;
    IIvrManagerLink* m_pIvrManager = nullptr;
    int m_nOnlineStatus = 0; // 0 unknown, 1 offline, 2 online
    std::string m_DisplayName;
    std::string m_CollectedDigits;
    std::string m_WorkText1, m_WorkText2;
    int m_nHookState = 1; // on-hook
    int m_nLineState = 1; // PSTN
    int m_nPendingPings = 0;
    HWND m_hSoftphoneWindow = nullptr;
    HWND m_hMonitorWindow = nullptr;
    char m_szText[256] = {};
    std::string m_RegistryRoot;
    UINT m_uAppChannelMessage = 0;
    std::atomic<bool> m_bShuttingDown{false};
    int32_t m_nConnectionFlags = kFlagAgentUp;

private:
    static void EventEntry(const IMM* message, uint32_t length, void* userData);
    static LRESULT CALLBACK HandOverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void DestroyHandOverWindow();
    // Ends every voice dialogue and the IVR manager (GUI thread; once).
    void EndVoiceDialogues();
    void OnAudioDevicesRoot(const std::string& root);
    void OnAudioDevicesReset();
    void OnAudioDevicesReinitialize(const std::string& root);

    HWND m_hHandOverWindow = nullptr; // adapter messages from the delivery thread
    DWORD m_dwGuiThreadId = 0;        // the thread that made it
    bool m_bHoldingStandby = false;
};
