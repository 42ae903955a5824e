#include "ivr/IvrManager.h"

#include "base/config/Registry.h"
#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"
#include "softphone/OrvinApiClient.h"

#include <cstring>
#include <new>

namespace {

IvrManager* g_pInstance = nullptr;
IvrManager::StateMachineMaker g_pMaker = nullptr;

int32_t Word(const IMM& message, int index) {
    int32_t value;
    memcpy(&value, message.Buffer1 + 4 * index, sizeof value);
    return value;
}

// The Payload as text: at most its 512 bytes, terminated or not.
std::string PayloadText(const IMM& message) {
    return std::string(message.Payload, strnlen(message.Payload, sizeof message.Payload));
}

} // namespace

IvrManager* IvrManager::Instance(COrvinApiClient* client, const std::string& registryRoot) {
    if (g_pInstance) {
        return g_pInstance;
    }
    IvrManager* manager = new (std::nothrow) IvrManager(client, registryRoot);
    if (!manager) {
        TRACE("ERROR: IvrManager::Instance can not create Instance");
        return nullptr;
    }
    g_pInstance = manager;
    if (!manager->StartThread()) {
        TRACE("ERROR: IvrManager::Instance can not initialize Instance");
        delete manager;
        return nullptr;
    }
    TRACE("IvrManager::Instance IvrManager created");
    return manager;
}

IIvrManagerLink* IvrManager::Factory(COrvinApiClient* client, const std::string& registryRoot) {
    return Instance(client, registryRoot);
}

void IvrManager::SetStateMachineMaker(StateMachineMaker maker) {
    g_pMaker = maker;
}

IvrManager::IvrManager(COrvinApiClient* client, const std::string& registryRoot)
    : m_pClient(client), m_RegistryRoot(registryRoot) {
    orvin::RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, registryRoot.c_str()) == ERROR_SUCCESS) {
        key.QueryString("SoftwareInstallationFolder", &m_InstallationFolder, 260);
    }
}

bool IvrManager::StartThread() {
    m_hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!m_hEvent) {
        return false;
    }
    m_hThread = CreateThread(nullptr, 0, DispatcherProc, this, 0, nullptr);
    return m_hThread != nullptr;
}

IvrManager::~IvrManager() {
    TRACE("IvrManager::~IvrManager: ivrMap.size = %d", (int)GetActiveCount());
    if (m_hThread) {
        m_bStop = true;
        SetEvent(m_hEvent);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
    }
    // Each dialogue's end waits for its thread, whose reports still reach the client.
    std::map<int, std::unique_ptr<CIvrStateMachine>> dialogues;
    {
        std::lock_guard<std::mutex> guard(m_MapLock);
        dialogues.swap(ivrMap);
    }
    dialogues.clear();
    m_Queue.clear();
    if (m_hEvent) {
        CloseHandle(m_hEvent);
    }
    if (g_pInstance == this) {
        g_pInstance = nullptr;
    }
}

void IvrManager::Release() {
    delete this;
}

// ---- Control records in

void IvrManager::PostIvrEvent(const IMM& message) {
    std::unique_ptr<IMM> copy(new (std::nothrow) IMM(message));
    if (!copy) {
        TRACE("IVRM: ERROR: Can not allocate new message struct");
        return;
    }
    try {
        std::lock_guard<std::mutex> guard(m_QueueLock);
        m_Queue.push_back(std::move(copy));
    } catch (const std::bad_alloc&) {
        TRACE("IVRM: ERROR: Can not store new message struct");
        return;
    }
    SetEvent(m_hEvent);
}

DWORD WINAPI IvrManager::DispatcherProc(void* parameter) {
    static_cast<IvrManager*>(parameter)->Dispatch();
    return 0;
}

void IvrManager::Dispatch() {
    for (;;) {
        if (WaitForSingleObject(m_hEvent, INFINITE) != WAIT_OBJECT_0) {
            continue;
        }
        if (m_bStop) {
            return;
        }
        std::unique_ptr<IMM> message;
        {
            std::lock_guard<std::mutex> guard(m_QueueLock);
            if (!m_Queue.empty()) {
                message = std::move(m_Queue.front());
                m_Queue.pop_front();
            }
        }
        if (message) {
            ReceiveControlMsg(*message);
        }
        ResetEvent(m_hEvent);
        // A stop asked for while the record was handled set the event too: the reset
        // must not lose it.
        std::lock_guard<std::mutex> guard(m_QueueLock);
        if (!m_Queue.empty() || m_bStop) {
            SetEvent(m_hEvent);
        }
    }
}

void IvrManager::ReceiveControlMsg(const IMM& message) {
    switch (message.Code) {
    case IVR_START:
        TRACE("IvrManager::ReceiveControlMsg IVR_START");
        StartStateMachine(message);
        break;
    case IVR_TERMINATE:
        TRACE("IvrManager::ReceiveControlMsg IVR_TERMINATE");
        StopStateMachine(Word(message, 0));
        break;
    case IVR_PLAY_SOUND:
        TRACE("IvrManager::ReceiveControlMsg IVR_PLAY_SOUND");
        break;
    case IVR_STOP_SOUND:
        TRACE("IvrManager::ReceiveControlMsg IVR_STOP_SOUND");
        break;
    case IVR_STORE_REMINDER_PATH: {
        std::lock_guard<std::mutex> guard(m_MapLock);
        m_ReminderPath = PayloadText(message);
        TRACE("IvrManager::ReceiveControlMsg IVR_STORE_REMINDER_PATH %s", m_ReminderPath.c_str());
        break;
    }
    default:
        TRACE("IvrManager::ReceiveControlMsg UNINDENTIFIED");
        break;
    }
}

void IvrManager::StartStateMachine(const IMM& message) {
    const int ivrId = Word(message, 0);
    const int context = Word(message, 1);
    {
        std::lock_guard<std::mutex> guard(m_MapLock);
        if (ivrMap.count(ivrId)) {
            TRACE("IvrManager: IVR %d runs already: IVR_START ignored", ivrId);
            return;
        }
    }
    const bool pstn = message.Info != 0;
    std::unique_ptr<CIvrStateMachine> machine =
        g_pMaker ? g_pMaker(this, ivrId, pstn) : std::make_unique<CIvrStateMachine>(this, ivrId, pstn);
    if (!machine) {
        return;
    }
    const HWND window = FindMainWindow();
    bool ready = false;
    if (context == 4) {
        ready = machine->Initialize(window, m_InstallationFolder, m_RegistryRoot) &&
                machine->InitializeReminderRecording(GetReminderPath());
    } else if (context == 5) {
        ready = machine->Initialize(window, m_InstallationFolder, m_RegistryRoot) &&
                machine->InitializeSimplePlayFileMenu(PayloadText(message).c_str());
    } else {
        const char* section = "";
        bool lineAttach = false;
        if (context == 0) {
            TRACE("IvrManager::ReceiveControlMsg context IVR_CX_DIRECT");
            section = "EnterAM";
        } else if (context == 1) {
            TRACE("IvrManager::ReceiveControlMsg context IVR_CX_CALL_FORWARD");
            section = "CallForward";
            lineAttach = Word(message, 2) != 0;
        } else if (context == 2) {
            TRACE("IvrManager::ReceiveControlMsg context IVR_CX_ANSWERING_MACHINE");
            section = "AMGreeting";
            lineAttach = Word(message, 2) != 0;
        }
        ready = machine->Initialize(window, m_InstallationFolder, section, m_RegistryRoot, lineAttach);
        TRACE(ready ? "CIvrStateMachine Initialized successfuly" : "CIvrStateMachine Initialize failed...");
    }
    if (!ready) {
        return; // destroyed here, neither stored nor started
    }
    CIvrStateMachine* started = machine.get();
    {
        std::lock_guard<std::mutex> guard(m_MapLock);
        ivrMap[ivrId] = std::move(machine);
    }
    started->Start();
    if (m_pClient) {
        m_pClient->RequestStandbyReview();
    }
}

void IvrManager::StopStateMachine(int ivrId) {
    std::unique_ptr<CIvrStateMachine> machine;
    {
        std::lock_guard<std::mutex> guard(m_MapLock);
        auto found = ivrMap.find(ivrId);
        if (found == ivrMap.end()) {
            return;
        }
        machine = std::move(found->second);
        ivrMap.erase(found);
    }
    machine.reset();
    if (m_pClient) {
        m_pClient->RequestStandbyReview();
    }
}

// ---- Reports out

void IvrManager::SendControlMsg(IMM* pMessage) {
    if (!pMessage) {
        return;
    }
    TRACE("IvrManager::SendControlMsg Tye %d, Message %d, Info = %d", pMessage->Type, pMessage->Code,
          pMessage->Info);
    IMM record = {};
    record.Type = pMessage->Type;
    record.Code = pMessage->Code;
    record.Info = pMessage->Info;
    memcpy(record.Buffer1, pMessage->Buffer1, sizeof record.Buffer1);
    memcpy(record.Payload, pMessage->Payload, sizeof record.Payload);
    if (m_pClient) {
        m_pClient->SendRecordToService(record);
    }
}

bool IvrManager::HasActiveStateMachines() {
    return GetActiveCount() > 0;
}

size_t IvrManager::GetActiveCount() {
    std::lock_guard<std::mutex> guard(m_MapLock);
    return ivrMap.size();
}

std::string IvrManager::GetReminderPath() {
    std::lock_guard<std::mutex> guard(m_MapLock);
    return m_ReminderPath;
}

// The application's main window (its dialog), for DirectSound's cooperative level; the
// desktop when there is none.
HWND IvrManager::FindMainWindow() const {
    struct Search {
        DWORD process;
        HWND found;
    } search{GetCurrentProcessId(), nullptr};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            char name[16] = {};
            if (process == s->process && GetClassNameA(window, name, sizeof name) &&
                strcmp(name, "#32770") == 0) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found ? search.found : GetDesktopWindow();
}
