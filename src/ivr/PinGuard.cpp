#include "ivr/PinGuard.h"

#include "base/config/Registry.h"
#include "base/trace/Trace.h"

#include <algorithm>

namespace {

const char kFailedCallsValue[] = "PinFailedCalls";
const char kLockedUntilValue[] = "PinLockedUntil";
const char kLockoutMinutesValue[] = "PinLockoutMinutes";

int64_t SystemSeconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime; // 100 ns since 1601
    return int64_t((ticks - 116444736000000000ull) / 10000000ull);
}

} // namespace

CPinGuard::CPinGuard(const std::string& registryRoot, EventLog eventLog, Clock clock)
    : m_IvrKey(registryRoot.empty() ? std::string() : orvin::SubKey(registryRoot, "Config\\IVR")),
      m_EventLog(std::move(eventLog)), m_Clock(clock) {
    if (m_IvrKey.empty()) {
        return;
    }
    orvin::RegKey key;
    DWORD count = 0, until = 0;
    if (key.Open(HKEY_LOCAL_MACHINE, m_IvrKey.c_str()) == ERROR_SUCCESS) {
        key.QueryDword(kFailedCallsValue, &count);
        key.QueryDword(kLockedUntilValue, &until);
    }
    m_nFailedCalls = (int)std::min<DWORD>(count, 1000000);
    m_LockedUntil = until;
    TRACE("PinGuard: %s = %d, %s = %lld", kFailedCallsValue, m_nFailedCalls, kLockedUntilValue,
          (long long)m_LockedUntil);
}

bool CPinGuard::IsUsablePin(const std::string& pin) {
    return pin.size() >= kMinPinDigits && pin.size() <= kMaxPinDigits &&
           std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool CPinGuard::Matches(const std::string& entered, const std::string& pin) {
    // Both padded to one digit more than a PIN can have (the menu's overflowing entry), and
    // every position compared, so the time does not depend on where the first wrong digit is.
    char a[kMaxPinDigits + 1] = {}, b[kMaxPinDigits + 1] = {};
    entered.copy(a, sizeof a);
    pin.copy(b, sizeof b);
    unsigned difference = entered.size() != pin.size() ? 1u : 0u;
    for (size_t i = 0; i < sizeof a; ++i) {
        difference |= unsigned((unsigned char)a[i] ^ (unsigned char)b[i]);
    }
    if (!IsUsablePin(pin)) {
        TRACE("PinNumberMenu: no PIN is set (Pin needs 4 to 8 digits): entry refused");
        return false;
    }
    return difference == 0;
}

std::string CPinGuard::Masked(const std::string& digits) {
    return std::string(digits.size(), '*');
}

bool CPinGuard::CheckEntry(int conversation, const std::string& entered, const std::string& pin) {
    std::lock_guard<std::mutex> guard(m_Lock);
    const int64_t now = Now();
    NoticeLockoutEndLocked(now);
    const bool right = Matches(entered, pin);
    if (!IsUsablePin(pin)) {
        return false;
    }
    if (m_LockedUntil != 0) {
        TRACE("PinNumberMenu: PIN entries are locked out for %lld s more: entry refused",
              (long long)(m_LockedUntil - now));
        return false;
    }
    Attempts& attempts = m_Conversations[conversation];
    if (!right) {
        attempts.bWrong = true;
        return false;
    }
    attempts.bRight = true;
    if (m_nFailedCalls != 0) {
        m_nFailedCalls = 0;
        TRACE("PinGuard: the right PIN: %s = 0", kFailedCallsValue);
        Write(kFailedCallsValue, 0);
    }
    return true;
}

void CPinGuard::EndConversation(int conversation) {
    std::lock_guard<std::mutex> guard(m_Lock);
    auto found = m_Conversations.find(conversation);
    if (found == m_Conversations.end()) {
        return;
    }
    const Attempts attempts = found->second;
    m_Conversations.erase(found);
    if (!attempts.bWrong || attempts.bRight) {
        return;
    }
    ++m_nFailedCalls;
    TRACE("PinGuard: a call ended with a wrong PIN: %s = %d", kFailedCallsValue, m_nFailedCalls);
    Write(kFailedCallsValue, (DWORD)m_nFailedCalls);
    if (m_nFailedCalls < kFailedCallsBeforeLockout) {
        return;
    }
    const int minutes = LockoutMinutes(m_nFailedCalls);
    const int64_t until = Now() + int64_t(minutes) * 60;
    if (until <= m_LockedUntil) {
        return;
    }
    m_LockedUntil = until;
    Write(kLockedUntilValue, (DWORD)until);
    Log("PIN lock-out begins: " + std::to_string(m_nFailedCalls) +
        " failed calls in a row, every PIN refused for " + std::to_string(minutes) + " min");
}

DWORD CPinGuard::MsUntilLockoutEnds() {
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_LockedUntil == 0) {
        return INFINITE;
    }
    // Looked at every minute at least, so that a changed clock is followed.
    const int64_t left = std::clamp<int64_t>(m_LockedUntil - Now(), 0, 60);
    return DWORD(left * 1000);
}

void CPinGuard::NoticeLockoutEnd() {
    std::lock_guard<std::mutex> guard(m_Lock);
    NoticeLockoutEndLocked(Now());
}

int CPinGuard::GetFailedCalls() {
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_nFailedCalls;
}

int64_t CPinGuard::GetLockedUntil() {
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_LockedUntil;
}

int64_t CPinGuard::Now() const {
    return m_Clock ? m_Clock() : SystemSeconds();
}

void CPinGuard::NoticeLockoutEndLocked(int64_t now) {
    if (m_LockedUntil == 0) {
        return;
    }
    const int64_t latest = now + int64_t(kMaxLockoutMinutes) * 60;
    if (m_LockedUntil > latest) {
        TRACE("PinGuard: %s lies more than %d min ahead: cut to %d min from now", kLockedUntilValue,
              kMaxLockoutMinutes, kMaxLockoutMinutes);
        m_LockedUntil = latest;
        Write(kLockedUntilValue, (DWORD)latest);
    }
    if (now < m_LockedUntil) {
        return;
    }
    m_LockedUntil = 0;
    Write(kLockedUntilValue, 0);
    Log("PIN lock-out ended: PIN entries are judged again");
}

int CPinGuard::LockoutMinutes(int nFailedCalls) const {
    DWORD first = 0;
    orvin::RegKey key;
    if (!m_IvrKey.empty() && key.Open(HKEY_LOCAL_MACHINE, m_IvrKey.c_str()) == ERROR_SUCCESS) {
        key.QueryDword(kLockoutMinutesValue, &first);
    }
    int minutes = first == 0 ? kDefaultLockoutMinutes : (int)std::min<DWORD>(first, kMaxLockoutMinutes);
    for (int n = kFailedCallsBeforeLockout; n < nFailedCalls && minutes < kMaxLockoutMinutes; ++n) {
        minutes *= 2;
    }
    return std::min(minutes, kMaxLockoutMinutes);
}

void CPinGuard::Write(const char* name, DWORD value) {
    if (m_IvrKey.empty()) {
        return;
    }
    const LONG result = orvin::WriteDword(m_IvrKey, name, value);
    if (result != ERROR_SUCCESS) {
        TRACE("PinGuard: %s = %u can not be written (Err=%d)", name, (unsigned)value, (int)result);
    }
}

void CPinGuard::Log(const std::string& text) {
    TRACE("PinGuard: %s", text.c_str());
    if (m_EventLog) {
        m_EventLog("IVR: " + text);
    }
}
