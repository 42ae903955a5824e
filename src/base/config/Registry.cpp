#include "base/config/Registry.h"

#include <cstring>
#include <vector>

namespace orvin {

LONG RegKey::Open(HKEY parent, const char* path, REGSAM access) {
    Close();
    if (!path) {
        return ERROR_INVALID_PARAMETER;
    }
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(parent, path, 0, access, &key);
    if (result == ERROR_SUCCESS) {
        m_hKey = key;
    }
    return result;
}

void RegKey::Close() {
    if (m_hKey) {
        RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }
}

LONG RegKey::QueryDword(const char* name, DWORD* value) const {
    if (!m_hKey || !value) {
        return ERROR_INVALID_HANDLE;
    }
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    LONG result = RegQueryValueExA(m_hKey, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (result == ERROR_MORE_DATA) {
        return ERROR_INVALID_DATA;
    }
    if (result != ERROR_SUCCESS) {
        return result;
    }
    if (type != REG_DWORD) {
        return ERROR_INVALID_DATATYPE;
    }
    if (size != sizeof data) {
        return ERROR_INVALID_DATA;
    }
    *value = data;
    return ERROR_SUCCESS;
}

LONG RegKey::QueryString(const char* name, char* buffer, size_t capacity) const {
    if (!m_hKey || !buffer || !capacity) {
        return ERROR_INVALID_HANDLE;
    }
    DWORD type = 0;
    DWORD size = 0;
    LONG result = RegQueryValueExA(m_hKey, name, nullptr, &type, nullptr, &size);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return ERROR_INVALID_DATATYPE;
    }
    // The stored bytes need not end with a terminator: read them into a buffer of our own
    // one byte longer and terminate it ourselves.
    std::vector<char> data(size + 1, 0);
    DWORD got = size;
    result = RegQueryValueExA(m_hKey, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    data[got < size ? got : size] = 0;
    const size_t length = strlen(data.data());
    if (length + 1 > capacity) {
        return ERROR_MORE_DATA;
    }
    memcpy(buffer, data.data(), length + 1);
    return ERROR_SUCCESS;
}

LONG RegKey::QueryString(const char* name, std::string* value, size_t capacity) const {
    if (!value || !capacity) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<char> buffer(capacity, 0);
    LONG result = QueryString(name, buffer.data(), capacity);
    if (result == ERROR_SUCCESS) {
        *value = buffer.data();
    }
    return result;
}

LONG RegKey::QueryBinary(const char* name, void* buffer, size_t size) const {
    if (!m_hKey || !buffer) {
        return ERROR_INVALID_HANDLE;
    }
    DWORD type = 0;
    DWORD stored = 0;
    LONG result = RegQueryValueExA(m_hKey, name, nullptr, &type, nullptr, &stored);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    if (type != REG_BINARY) {
        return ERROR_INVALID_DATATYPE;
    }
    if (stored != size) {
        return ERROR_INVALID_DATA;
    }
    DWORD got = stored;
    return RegQueryValueExA(m_hKey, name, nullptr, &type, static_cast<BYTE*>(buffer), &got);
}

std::string SubKey(const std::string& root, const char* relative) {
    std::string key = root;
    key += '\\';
    key += relative;
    return key;
}

LONG WriteDword(const std::string& key, const char* name, DWORD value) {
    RegKey open;
    LONG result = open.Open(HKEY_LOCAL_MACHINE, key.c_str(), KEY_SET_VALUE);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    return RegSetValueExA(open.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

} // namespace orvin
