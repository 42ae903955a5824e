// IvrManager: the one IVR manager of the agent. The service starts and ends voice
// dialogues with IVR control messages (Type MSG_TYPE_IVR_EVENT); the API client posts each
// one here, and the manager's dispatcher thread handles them one at a time, in arrival
// order: it creates, initializes and starts a CIvrStateMachine under the IVR id the
// service chose (ivrMap), destroys it on IVR_TERMINATE, keeps the reminder folder, and
// forwards the dialogues' reports to the service through the API client.
//
// Contexts of IVR_START (Buffer1 word 1): 0 remote access from "EnterAM", 1 call
// forwarding from "CallForward", 2 answering machine from "AMGreeting", 4 a reminder
// recorded into the stored reminder folder, 5 the WAV file named in the Payload played;
// any other value a tree from the empty section name.
//
// The manager owns the judge of PIN entries (CPinGuard) for all its dialogues: a dialogue's
// conversation is over for it when the dialogue is destroyed, and the dispatcher thread
// wakes when a lock-out is due to end, so that its end is traced and logged on time. The
// guard's event-log lines go to the main dialog through the API client's GUI thread.
//
// Threads: PostIvrEvent comes from the API client's GUI thread, HasActiveStateMachines
// from it too; the dispatcher thread alone changes ivrMap (under m_MapLock, so that the
// question is answered safely); SendControlMsg runs on each dialogue's thread and only
// forwards. Instance and Release come from the GUI thread.
#pragma once

#include "ivr/IvrStateMachine.h"
#include "ivr/PinGuard.h"

#include "softphone/AgentLinks.h"

#include <windows.h>

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class COrvinApiClient;

class IvrManager : public IIvrManagerLink, public IIvrReportSink {
public:
    // The manager, made on the first call. None when it can not be made (traced).
    static IvrManager* Instance(COrvinApiClient* client, const std::string& registryRoot);
    // The same, as the API client's factory.
    static IIvrManagerLink* Factory(COrvinApiClient* client, const std::string& registryRoot);

    ~IvrManager() override;

    // IIvrManagerLink
    void PostIvrEvent(const IMM& message) override;
    bool HasActiveStateMachines() override;
    void Release() override;

    // IIvrReportSink
    void SendControlMsg(IMM* pMessage) override;
    CPinGuard* GetPinGuard() override { return &m_PinGuard; }

    const std::string& GetInstallationFolder() const { return m_InstallationFolder; }
    std::string GetReminderPath();
    size_t GetActiveCount();

    // Makes the dialogues (tests give dialogues on fake audio).
    typedef std::unique_ptr<CIvrStateMachine> (*StateMachineMaker)(IvrManager* manager, int ivrId, bool pstn);
    static void SetStateMachineMaker(StateMachineMaker maker);

protected:
    IvrManager(COrvinApiClient* client, const std::string& registryRoot);

private:
    bool StartThread();
    static DWORD WINAPI DispatcherProc(void* parameter);
    void Dispatch();
    void ReceiveControlMsg(const IMM& message);
    void StartStateMachine(const IMM& message);
    void StopStateMachine(int ivrId);
    HWND FindMainWindow() const;

    COrvinApiClient* m_pClient;
    std::string m_RegistryRoot;
    CPinGuard m_PinGuard;
    std::string m_InstallationFolder;
    std::string m_ReminderPath;
    std::map<int, std::unique_ptr<CIvrStateMachine>> ivrMap;
    std::mutex m_MapLock; // ivrMap and the reminder path, for readers on other threads
    std::deque<std::unique_ptr<IMM>> m_Queue;
    std::mutex m_QueueLock;
    HANDLE m_hEvent = nullptr;
    HANDLE m_hThread = nullptr;
    std::atomic<bool> m_bStop{false};
};
