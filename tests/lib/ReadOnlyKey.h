// A registry key under HKEY_LOCAL_MACHINE that grants everybody reading only, while this
// lives: its DACL becomes one entry, Everyone (S-1-1-0) allowed KEY_READ (0x20019), not
// inherited; the key's own security comes back at the end. This is what a user without
// administrator rights meets on the configuration keys of a Windows installation (Wine
// checks a key's DACL on every open, so an open that asks for more fails with 5).
#pragma once

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

class ReadOnlyKey {
public:
    explicit ReadOnlyKey(const std::string& path) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL | WRITE_DAC, &key) !=
            ERROR_SUCCESS) {
            return;
        }
        DWORD size = 0;
        RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
        m_original.resize(size);
        if (size &&
            RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, m_original.data(), &size) == ERROR_SUCCESS) {
            PSECURITY_DESCRIPTOR readOnly = nullptr;
            if (ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;0x20019;;;WD)", SDDL_REVISION_1,
                                                                     &readOnly, nullptr)) {
                m_bApplied = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly) == ERROR_SUCCESS;
                LocalFree(readOnly);
            }
        }
        RegCloseKey(key);
        m_path = path;
    }
    ~ReadOnlyKey() {
        if (!m_bApplied) {
            return;
        }
        // The owner may always change the DACL.
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
            RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, m_original.data());
            RegCloseKey(key);
        }
    }
    ReadOnlyKey(const ReadOnlyKey&) = delete;
    ReadOnlyKey& operator=(const ReadOnlyKey&) = delete;

    // The DACL is in place: an open for KEY_ALL_ACCESS is refused now.
    bool Applied() const { return m_bApplied; }

private:
    std::string m_path;
    std::vector<BYTE> m_original;
    bool m_bApplied = false;
};
