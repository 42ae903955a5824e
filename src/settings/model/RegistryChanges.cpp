#include "settings/model/RegistryChanges.h"

#include <map>
#include <memory>

namespace {

struct OldValue {
    bool existed = false;
    DWORD type = 0;
    std::vector<uint8_t> data;
};

OldValue ReadOld(HKEY key, const std::string& name) {
    OldValue old;
    DWORD size = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &old.type, nullptr, &size) != ERROR_SUCCESS) {
        return old;
    }
    old.data.resize(size);
    if (RegQueryValueExA(key, name.c_str(), nullptr, &old.type, old.data.data(), &size) == ERROR_SUCCESS) {
        old.data.resize(size);
        old.existed = true;
    }
    return old;
}

} // namespace

std::string SystemErrorText(LONG result) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, (DWORD)result, 0, (LPSTR)&text, 0, nullptr);
    std::string words = text ? text : "";
    if (text) {
        LocalFree(text);
    }
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.')) {
        words.pop_back();
    }
    return words.empty() ? "error " + std::to_string(result) : words;
}

void CRegistryChanges::Set(const std::string& key, const std::string& name, DWORD type, const void* data,
                           size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (Value& value : m_Values) {
        if (value.key == key && value.name == name) {
            value.type = type;
            value.data.assign(bytes, bytes + size);
            return;
        }
    }
    m_Values.push_back({key, name, type, std::vector<uint8_t>(bytes, bytes + size)});
}

void CRegistryChanges::SetDword(const std::string& key, const std::string& name, DWORD value) {
    Set(key, name, REG_DWORD, &value, sizeof value);
}

void CRegistryChanges::SetString(const std::string& key, const std::string& name, const std::string& value) {
    Set(key, name, REG_SZ, value.c_str(), value.size() + 1);
}

void CRegistryChanges::SetBinary(const std::string& key, const std::string& name, const void* data,
                                 size_t size) {
    Set(key, name, REG_BINARY, data, size);
}

bool CRegistryChanges::Touches(const std::string& key, const std::string& name) const {
    for (const Value& value : m_Values) {
        if (value.key == key && value.name == name) {
            return true;
        }
    }
    return false;
}

bool CRegistryChanges::CanWrite(const std::string& key) {
    HKEY handle = nullptr;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &handle);
    if (result == ERROR_FILE_NOT_FOUND) {
        // A key not made yet: whoever may make it below its parent may write it.
        const size_t slash = key.find_last_of('\\');
        if (slash == std::string::npos) {
            return false;
        }
        result =
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.substr(0, slash).c_str(), 0, KEY_CREATE_SUB_KEY, &handle);
    }
    if (result != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

std::string CRegistryChanges::Describe(const std::string& key, LONG result) {
    return "HKEY_LOCAL_MACHINE\\" + key + ": " + SystemErrorText(result);
}

bool CRegistryChanges::Commit(std::string* error) {
    struct Closer {
        void operator()(HKEY key) const { RegCloseKey(key); }
    };
    std::map<std::string, std::unique_ptr<std::remove_pointer_t<HKEY>, Closer>> keys;
    // Every key opens for writing first: a refusal changes nothing.
    for (const Value& value : m_Values) {
        if (keys.count(value.key)) {
            continue;
        }
        HKEY handle = nullptr;
        const LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, value.key.c_str(), 0, nullptr, 0,
                                            KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &handle, nullptr);
        if (result != ERROR_SUCCESS) {
            if (error) {
                *error = Describe(value.key, result);
            }
            return false;
        }
        keys[value.key].reset(handle);
    }
    std::vector<OldValue> old;
    for (size_t i = 0; i < m_Values.size(); ++i) {
        const Value& value = m_Values[i];
        HKEY key = keys[value.key].get();
        old.push_back(ReadOld(key, value.name));
        const LONG result = RegSetValueExA(key, value.name.c_str(), 0, value.type, value.data.data(),
                                           (DWORD)value.data.size());
        if (result == ERROR_SUCCESS) {
            continue;
        }
        if (error) {
            *error = Describe(value.key, result);
        }
        // Back as it was: the values written so far, this one included.
        for (size_t j = 0; j <= i; ++j) {
            HKEY back = keys[m_Values[j].key].get();
            if (old[j].existed) {
                RegSetValueExA(back, m_Values[j].name.c_str(), 0, old[j].type, old[j].data.data(),
                               (DWORD)old[j].data.size());
            } else {
                RegDeleteValueA(back, m_Values[j].name.c_str());
            }
        }
        return false;
    }
    m_Values.clear();
    return true;
}
