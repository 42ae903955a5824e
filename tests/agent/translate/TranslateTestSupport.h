// What the translator's tests share: folders of their own that stand for the Windows
// directory, the installation folder and so on; files written and read as bytes; a
// registry root of their own below HKEY_LOCAL_MACHINE; the cabinets made at build time.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

namespace translate_test {

inline std::string FolderOfThisProgram() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text(path, length);
    return text.substr(0, text.find_last_of('\\'));
}

// A cabinet made for the tests (several.cab, chinese.cab, mislabel.cab, shipped.cab).
inline std::string TestCabinet(const char* name) {
    return FolderOfThisProgram() + "\\" + name;
}

inline bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool WriteBytes(const std::string& path, const std::string& bytes) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

inline std::string ReadBytes(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "";
    }
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got) {
        bytes.append(chunk, got);
    }
    CloseHandle(file);
    return bytes;
}

// A fresh empty folder, removed with its files at the end.
class TempFolder {
public:
    explicit TempFolder(const char* tag) {
        static std::atomic<int> counter{0};
        char base[MAX_PATH];
        GetTempPathA(sizeof base, base);
        m_path = std::string(base) + "orvin-translate-" + tag + "-" + std::to_string(GetCurrentProcessId()) +
                 "-" + std::to_string(++counter);
        Remove();
        CreateDirectoryA(m_path.c_str(), nullptr);
    }
    ~TempFolder() { Remove(); }
    const std::string& Path() const { return m_path; }
    std::string File(const char* name) const { return m_path + "\\" + name; }

private:
    void Remove() {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((m_path + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileA((m_path + "\\" + found.cFileName).c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(m_path.c_str());
    }
    std::string m_path;
};

// A registry root of the test's own, as the service would report it, removed at the end.
class TestRegistryRoot {
public:
    TestRegistryRoot() {
        static std::atomic<int> counter{0};
        m_root = "SOFTWARE\\OrvinTranslateTest\\Adapter" + std::to_string(GetCurrentProcessId()) + "_" +
                 std::to_string(++counter);
        HKEY key = nullptr;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, m_root.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr);
        if (key) {
            RegCloseKey(key);
        }
    }
    ~TestRegistryRoot() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_root.c_str()); }
    const std::string& Path() const { return m_root; }

    // A value in the root or in a key below it ("" for the root itself).
    bool Set(const std::string& subKey, const char* name, DWORD type, const void* data, DWORD size) {
        const std::string key = subKey.empty() ? m_root : m_root + "\\" + subKey;
        return RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, type, data, size) == ERROR_SUCCESS;
    }
    bool SetText(const std::string& subKey, const char* name, const std::string& text) {
        return Set(subKey, name, REG_SZ, text.c_str(), DWORD(text.size() + 1));
    }
    bool SetDword(const std::string& subKey, const char* name, DWORD value) {
        return Set(subKey, name, REG_DWORD, &value, sizeof value);
    }

private:
    std::string m_root;
};

} // namespace translate_test
