// CAudioThreadPriority: for as long as it lives, the calling thread runs at the priority
// audio threads get: the multimedia class scheduler's "Pro Audio" task (avrt.dll, loaded at
// run time: not every system has it), else THREAD_PRIORITY_TIME_CRITICAL. A thread that
// feeds a playback buffer and drains a capture buffer must not wait behind other busy
// programs, or the caller hears gaps and the keys come late.
//
// Threads: made and destroyed on the thread it raises.
#pragma once

#include <windows.h>

class CAudioThreadPriority {
public:
    CAudioThreadPriority();
    ~CAudioThreadPriority();
    CAudioThreadPriority(const CAudioThreadPriority&) = delete;
    CAudioThreadPriority& operator=(const CAudioThreadPriority&) = delete;

    // "Pro Audio", "time-critical" or "normal" (neither could be had).
    const char* GetKind() const { return m_pszKind; }

private:
    HMODULE m_hAvrt = nullptr;
    HANDLE m_hTask = nullptr;
    int m_nPriorityBefore = THREAD_PRIORITY_NORMAL;
    bool m_bPrioritySet = false;
    const char* m_pszKind = "normal";
};
