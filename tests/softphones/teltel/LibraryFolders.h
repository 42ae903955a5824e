// A Windows folder of the test's own for CTelTelApiWrapper's search: a fresh folder under
// the temporary folder, named as WINDIR for this process only (and given back when the
// test ends), into which the stand-in TelTelAPI.DLL builds are copied, directly or into
// its SYSTEM32. The libraries' paths in the build come as definitions (Unix paths, Z: to
// Wine). The library's control pipe gets a name no control program serves.
#pragma once

#include <windows.h>

#include <string>

#ifndef TELTEL_FULL_LIBRARY
#error "TELTEL_FULL_LIBRARY names the stand-in library's file in the build"
#endif

inline std::string WindowsPath(const char* unixPath) {
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

inline const std::string kFullLibrary = WindowsPath(TELTEL_FULL_LIBRARY);
inline const std::string kLackingLibrary = WindowsPath(TELTEL_LACKING_LIBRARY);

// The file a module was loaded from.
inline std::string ModulePath(HMODULE module) {
    char path[MAX_PATH * 2] = {};
    GetModuleFileNameA(module, path, sizeof path - 1);
    return path;
}

class LibraryFolders {
public:
    ~LibraryFolders() {
        Remove("SYSTEM32");
        Remove("");
        RemoveDirectoryA((m_root + "\\SYSTEM32").c_str());
        RemoveDirectoryA(m_root.c_str());
        if (m_bHadWindir) {
            SetEnvironmentVariableA("WINDIR", m_OldWindir.c_str());
        }
    }

    bool Make() {
        char temp[MAX_PATH];
        if (!GetTempPathA(sizeof temp, temp)) {
            return false;
        }
        m_root = std::string(temp) + "OrvinTelTelLoad-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(m_root.c_str(), nullptr);
        CreateDirectoryA((m_root + "\\SYSTEM32").c_str(), nullptr);
        char old[MAX_PATH];
        const DWORD length = GetEnvironmentVariableA("WINDIR", old, sizeof old);
        m_bHadWindir = length && length < sizeof old;
        m_OldWindir = m_bHadWindir ? old : "";
        SetEnvironmentVariableA("ORVIN_TELTELSIM_PIPE",
                                ("OrvinTelTelNoOne-" + std::to_string(GetCurrentProcessId())).c_str());
        return SetEnvironmentVariableA("WINDIR", m_root.c_str()) != 0;
    }
    // The library file in the Windows folder ("") or its SYSTEM32.
    std::string Path(const std::string& sub) const {
        return m_root + (sub.empty() ? "" : "\\" + sub) + "\\TelTelAPI.DLL";
    }
    bool Put(const std::string& library, const std::string& sub) {
        return CopyFileA(library.c_str(), Path(sub).c_str(), FALSE) != 0;
    }
    bool Remove(const std::string& sub) { return DeleteFileA(Path(sub).c_str()) != 0; }

private:
    std::string m_root;
    std::string m_OldWindir;
    bool m_bHadWindir = false;
};
