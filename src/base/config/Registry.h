// Registry reading for the agent's configuration: every value below HKEY_LOCAL_MACHINE is
// read through these helpers, which check the value's type and size before using a byte
// of it, so a value of the wrong type or length leaves the caller's default alone.
//
// Threads: no state; any thread.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvin {

// An HKEY that closes itself.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Close(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // The result code of RegOpenKeyExA (ERROR_SUCCESS when open).
    LONG Open(HKEY parent, const char* path, REGSAM access = KEY_READ);
    void Close();
    bool IsOpen() const { return m_hKey != nullptr; }
    HKEY Get() const { return m_hKey; }

    // Each returns the query's result code; the output is written only on success. A value
    // of another type than asked gives ERROR_INVALID_DATATYPE, of another size
    // ERROR_INVALID_DATA; a string that does not fit `capacity` (terminator included)
    // gives ERROR_MORE_DATA.
    LONG QueryDword(const char* name, DWORD* value) const;
    LONG QueryString(const char* name, char* buffer, size_t capacity) const;
    LONG QueryString(const char* name, std::string* value, size_t capacity) const;
    LONG QueryBinary(const char* name, void* buffer, size_t size) const; // exactly `size` bytes

private:
    HKEY m_hKey = nullptr;
};

// "%s\\%s" of the registry root and a relative key path.
std::string SubKey(const std::string& root, const char* relative);

// Writes the DWORD `name` under HKEY_LOCAL_MACHINE\key (which must exist); the result code
// of the opening or the writing, ERROR_SUCCESS when written. The agent's own state kept in
// its configuration (waiting messages, the PIN entries' record) goes through here.
LONG WriteDword(const std::string& key, const char* name, DWORD value);

} // namespace orvin
