// InstallProbe.exe: what the setup left in the registry, for the installer's tests. Every
// command prints NAME=VALUE lines:
//
//   tree KEY         every value of HKLM\KEY and of its sub-keys, one per line, named by
//                    its path below KEY: "Config\IVR\Pin=sz:1234", "Enable=dword:1",
//                    "SoftPhoneType=binary:000000c021000000" (other types: "type7:HEX");
//                    exit 1 when the key does not exist
//   exists KEY       exists=1 or exists=0
//   dacl PATH        dacl=SDDL: the access entries of a file or folder
//   softphone ROOT   the selection record as the agent's start-up reads and decodes it
//                    below the registry root ROOT: record=HEX (or record=none),
//                    valid=0|1 and type=N (11: no client)
//
// Exit status 0 done, 1 a missing key for tree, 2 bad usage.
#include "base/config/ConfigParams.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string Hex(const BYTE* data, DWORD size) {
    std::string text;
    char byte[3];
    for (DWORD i = 0; i < size; ++i) {
        snprintf(byte, sizeof byte, "%02x", data[i]);
        text += byte;
    }
    return text;
}

void PrintValue(const std::string& name, DWORD type, const BYTE* data, DWORD size) {
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        std::string text(reinterpret_cast<const char*>(data), size);
        while (!text.empty() && text.back() == '\0') {
            text.pop_back();
        }
        printf("%s=sz:%s\n", name.c_str(), text.c_str());
        break;
    }
    case REG_DWORD:
        if (size == 4) {
            DWORD value = 0;
            memcpy(&value, data, 4);
            printf("%s=dword:%lu\n", name.c_str(), (unsigned long)value);
            break;
        }
        [[fallthrough]];
    default:
        if (type == REG_BINARY) {
            printf("%s=binary:%s\n", name.c_str(), Hex(data, size).c_str());
        } else {
            printf("%s=type%lu:%s\n", name.c_str(), (unsigned long)type, Hex(data, size).c_str());
        }
        break;
    }
}

void PrintTree(HKEY key, const std::string& prefix) {
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameSize = sizeof name;
        BYTE data[65536];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) {
            break;
        }
        PrintValue(prefix + name, type, data, dataSize);
    }
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        HKEY sub = nullptr;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            PrintTree(sub, prefix + name + "\\");
            RegCloseKey(sub);
        }
    }
}

int Usage() {
    fputs("usage: InstallProbe.exe tree KEY | exists KEY | dacl PATH | softphone ROOT\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return Usage();
    }
    const std::string command = argv[1];
    if (command == "tree" || command == "exists") {
        HKEY key = nullptr;
        const bool open = RegOpenKeyExA(HKEY_LOCAL_MACHINE, argv[2], 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (command == "exists") {
            printf("exists=%d\n", open ? 1 : 0);
        } else if (open) {
            PrintTree(key, "");
        } else {
            fprintf(stderr, "InstallProbe: no key HKLM\\%s\n", argv[2]);
        }
        if (open) {
            RegCloseKey(key);
        }
        return open || command == "exists" ? 0 : 1;
    }
    if (command == "dacl") {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        PACL dacl = nullptr;
        const DWORD error = GetNamedSecurityInfoA(argv[2], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                                  nullptr, &dacl, nullptr, &descriptor);
        char* text = nullptr;
        if (error != ERROR_SUCCESS ||
            !ConvertSecurityDescriptorToStringSecurityDescriptorA(
                descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
            fprintf(stderr, "InstallProbe: no access entries for %s (%lu)\n", argv[2], (unsigned long)error);
            LocalFree(descriptor);
            return 1;
        }
        printf("dacl=%s\n", text);
        LocalFree(text);
        LocalFree(descriptor);
        return 0;
    }
    if (command == "softphone") {
        // The agent's own reading: LoadRegistryParameters and the record's decoder.
        CConfigParams params;
        AgentRegistrySettings settings;
        LoadRegistryParameters(argv[2], &params, &settings);
        const SoftPhoneTypeRecord& record = settings.softPhoneType;
        const bool read = Hex(record.bytes, sizeof record.bytes) != "0000000000000000";
        printf("record=%s\n", read ? Hex(record.bytes, sizeof record.bytes).c_str() : "none");
        printf("valid=%d\n", record.IsValid() ? 1 : 0);
        printf("type=%d\n", record.SelectedIndex());
        return 0;
    }
    return Usage();
}
