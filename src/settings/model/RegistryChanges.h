// CRegistryChanges: the values one Apply writes, written together or not at all.
//
// Pages add what their checked input asks for; Commit then opens every key for writing
// before it writes anything, so that a user without the rights setup grants changes
// nothing and is told which key refused. Should a write still fail half-way, the values
// written before it are put back as they were (or deleted, where there was none).
//
// Threads: one thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The system's words for an error code ("Access is denied").
std::string SystemErrorText(LONG result);

class CRegistryChanges {
public:
    // `key` below HKEY_LOCAL_MACHINE.
    void SetDword(const std::string& key, const std::string& name, DWORD value);
    void SetString(const std::string& key, const std::string& name, const std::string& value);
    void SetBinary(const std::string& key, const std::string& name, const void* data, size_t size);

    bool Empty() const { return m_Values.empty(); }
    bool Touches(const std::string& key, const std::string& name) const;
    // True when every value was written. Otherwise nothing was changed, and `error` says
    // in words what refused.
    bool Commit(std::string* error);

    // Whether this user may write values below `key` (or make it, when it is missing).
    static bool CanWrite(const std::string& key);
    // "HKEY_LOCAL_MACHINE\..." with the system's words for `result`.
    static std::string Describe(const std::string& key, LONG result);

private:
    struct Value {
        std::string key;
        std::string name;
        DWORD type;
        std::vector<uint8_t> data;
    };
    void Set(const std::string& key, const std::string& name, DWORD type, const void* data, size_t size);

    std::vector<Value> m_Values;
};
