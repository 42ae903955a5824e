// CPinGuard: every PIN entry of every voice dialogue is judged here, so that a caller who
// guesses gains nothing by calling again. Anyone can call the adapter's line.
//
// An entry is refused while no PIN is set (a `Pin` value that is not 4 to 8 digits counts
// as none) and while a lock-out lasts; otherwise it is compared with the PIN, every digit
// position whatever the digits, so the time taken tells nothing. A refused entry looks to
// the caller exactly like a wrong one.
//
// Lock-out: a conversation that had a wrong entry and no right one is a failed call, and
// the calls are counted when they end (EndConversation), whoever called from whichever
// side. From the 5th failed call in a row on, every entry is refused for a while: the
// `PinLockoutMinutes` value (15 when missing or 0) the first time, twice as long with each
// further failed call, at most 4 hours. A right PIN outside a lock-out sets the count back
// to 0. Entries refused by a lock-out (or for want of a PIN) do not count: they tell a
// guesser nothing, and the owner calling during a lock-out does not prolong it.
//
// The count (`PinFailedCalls`) and the lock-out's end (`PinLockedUntil`, seconds since
// 1970 UTC, 0 = none) are kept under Config\IVR beside `Pin`, read once at construction and
// written at each change, so a restart lifts nothing. A refused write is traced; the state
// held here still counts. A stored end more than 4 hours ahead (a clock set back, a value
// edited) is cut to 4 hours from now. The start and the end of a lock-out are traced and
// go to the event log through the callback given.
//
// Threads: CheckEntry from every dialogue's thread, EndConversation and NoticeLockoutEnd
// from the IVR manager's dispatcher thread; one lock guards all the state, registry
// writes included, so they happen in the order of the changes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

class CPinGuard {
public:
    static constexpr size_t kMinPinDigits = 4;
    static constexpr size_t kMaxPinDigits = 8;
    static constexpr int kFailedCallsBeforeLockout = 5;
    static constexpr int kDefaultLockoutMinutes = 15;
    static constexpr int kMaxLockoutMinutes = 240;

    typedef std::function<void(const std::string& text)> EventLog;
    typedef int64_t (*Clock)(); // seconds since 1970 UTC

    // registryRoot empty: nothing is read or written. clock none: the system clock.
    CPinGuard(const std::string& registryRoot, EventLog eventLog, Clock clock = nullptr);
    CPinGuard(const CPinGuard&) = delete;
    CPinGuard& operator=(const CPinGuard&) = delete;

    // 4 to 8 digits.
    static bool IsUsablePin(const std::string& pin);
    // Whether entered is the PIN; false (traced) when no PIN is set. No bookkeeping.
    static bool Matches(const std::string& entered, const std::string& pin);
    // Every character shown as '*': the count stays visible, the digits do not.
    static std::string Masked(const std::string& digits);
    // A key as a trace shows it: a digit as '*' when masked.
    static char MaskedKey(char key, bool bMasked) { return bMasked && key >= '0' && key <= '9' ? '*' : key; }

    // Judges one entry of conversation (the dialogue's IVR id); true: the PIN is right.
    bool CheckEntry(int conversation, const std::string& entered, const std::string& pin);
    // The conversation is over: a failed call is counted, and may start a lock-out.
    void EndConversation(int conversation);
    // How long until the lock-out should be looked at again (INFINITE: none runs).
    DWORD MsUntilLockoutEnds();
    // Ends a lock-out whose time is up (traced, logged, written).
    void NoticeLockoutEnd();

    int GetFailedCalls();
    int64_t GetLockedUntil();

private:
    struct Attempts {
        bool bWrong = false;
        bool bRight = false;
    };

    int64_t Now() const;
    void NoticeLockoutEndLocked(int64_t now);
    int LockoutMinutes(int nFailedCalls) const;
    void Write(const char* name, DWORD value);
    void Log(const std::string& text);

    const std::string m_IvrKey; // root\Config\IVR, empty without a root
    EventLog m_EventLog;
    Clock m_Clock;
    std::mutex m_Lock;
    std::map<int, Attempts> m_Conversations;
    int m_nFailedCalls = 0;
    int64_t m_LockedUntil = 0;
};
