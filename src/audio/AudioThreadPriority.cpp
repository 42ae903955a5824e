#include "audio/AudioThreadPriority.h"

#include "base/trace/Trace.h"

namespace {

typedef HANDLE(WINAPI* SetCharacteristicsFn)(LPCWSTR, LPDWORD);
typedef BOOL(WINAPI* RevertCharacteristicsFn)(HANDLE);

FARPROC Find(HMODULE module, const char* name) {
    return module ? GetProcAddress(module, name) : nullptr;
}

} // namespace

CAudioThreadPriority::CAudioThreadPriority() {
    m_nPriorityBefore = GetThreadPriority(GetCurrentThread());
    m_hAvrt = LoadLibraryA("avrt.dll");
    if (auto set = reinterpret_cast<SetCharacteristicsFn>(
            reinterpret_cast<void*>(Find(m_hAvrt, "AvSetMmThreadCharacteristicsW")))) {
        DWORD dwTaskIndex = 0;
        m_hTask = set(L"Pro Audio", &dwTaskIndex);
    }
    if (m_hTask) {
        m_pszKind = "Pro Audio";
    }
    // Where the scheduler service left the thread where it was (or is only a stand-in, as
    // under Wine), the thread's own priority does it.
    if (GetThreadPriority(GetCurrentThread()) < THREAD_PRIORITY_TIME_CRITICAL &&
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL)) {
        m_bPrioritySet = true;
        if (!m_hTask) {
            m_pszKind = "time-critical";
        }
    }
    if (!m_hTask && !m_bPrioritySet) {
        TRACE("CAudioThreadPriority: the audio thread keeps its priority (err = %lu)", GetLastError());
    }
}

CAudioThreadPriority::~CAudioThreadPriority() {
    if (m_hTask) {
        if (auto revert = reinterpret_cast<RevertCharacteristicsFn>(
                reinterpret_cast<void*>(Find(m_hAvrt, "AvRevertMmThreadCharacteristics")))) {
            revert(m_hTask);
        }
    }
    if (m_bPrioritySet) {
        SetThreadPriority(GetCurrentThread(), m_nPriorityBefore);
    }
    if (m_hAvrt) {
        FreeLibrary(m_hAvrt);
    }
}
