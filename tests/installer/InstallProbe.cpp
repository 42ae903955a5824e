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
//   key-dacl KEY SDDL  gives HKLM\KEY the access list SDDL (Wine gives a new key none)
//   as-user ROOT FOLDER  as a standard user (Administrators and the user only for denying):
//                    the agent's IVR reads the count (read=N) and writes one less (stored=N,
//                    read back after); "set-value KEY=RESULT" and "create-sub-key KEY=RESULT"
//                    for the configuration's keys (0: allowed, 5: refused)
//   hold PATH        keeps PATH open, sharing only reading, until killed; held=1 once open
//   run COMMANDLINE  runs a registry's command line as Windows does, exits with its status
//
// Exit status 0 done, 1 a missing key for tree (or a failure), 2 bad usage.
#include "base/config/ConfigParams.h"
#include "ivr/IvrStateMachine.h"
#include "tests/audio/capture/FakeAudioBuffer.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <memory>
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
    fputs("usage: InstallProbe.exe tree KEY | exists KEY | dacl PATH | softphone ROOT | key-dacl KEY SDDL |\n"
          "       as-user ROOT FOLDER | hold PATH | run COMMANDLINE\n",
          stderr);
    return 2;
}

// The IVR on buffers of its own, reporting to nobody: no sound device is needed.
class QuietStateMachine : IIvrReportSink, public CIvrStateMachine {
public:
    QuietStateMachine() : CIvrStateMachine(this, 1, true) {}
    void SendControlMsg(IMM*) override {}

protected:
    bool OpenAudio(HWND) override {
        auto ring = std::make_shared<FakeRingState>(CPlaylistSound::kBufferBytes, TelephonePcmFormat());
        return OpenAudioOn(std::make_unique<FakeCaptureDevice>(std::make_shared<FakeCaptureDevice::Record>()),
                           std::make_unique<FakeRing>(ring));
    }
};

LONG OpenResult(const std::string& path, REGSAM access) {
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key);
    RegCloseKey(key);
    return result;
}

int AsUser(const std::string& root, const char* folder) {
    HANDLE process = nullptr, restricted = nullptr, user = nullptr;
    BYTE self[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD size = 0;
    PSID administrators = nullptr;
    bool ok = ConvertStringSidToSidA("S-1-5-32-544", &administrators) &&
              OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process) &&
              GetTokenInformation(process, TokenUser, self, sizeof self, &size);
    SID_AND_ATTRIBUTES denying[2] = {{reinterpret_cast<TOKEN_USER*>(self)->User.Sid, 0}, {administrators, 0}};
    ok = ok && CreateRestrictedToken(process, 0, 2, denying, 0, nullptr, 0, nullptr, &restricted) &&
         DuplicateToken(restricted, SecurityImpersonation, &user) && SetThreadToken(nullptr, user);
    if (!ok) {
        fprintf(stderr, "InstallProbe: no standard user's token (%lu)\n", GetLastError());
        return 1;
    }
    {
        QuietStateMachine machine;
        const bool initialized = machine.Initialize(nullptr, folder, root);
        printf("initialized=%d\nread=%d\n", initialized, machine.GetWaitingMsgCount());
        machine.RemoveWaitingMessage();
    }
    for (const char* sub : {"", "\\Config", "\\Config\\General", "\\Config\\UI", "\\Config\\IVR",
                            "\\Config\\IVR\\Pstn", "\\Config\\IVR\\Voip", "\\Recorder"}) {
        printf("set-value %s%s=%ld\n", root.c_str(), sub, OpenResult(root + sub, KEY_SET_VALUE));
        printf("create-sub-key %s%s=%ld\n", root.c_str(), sub, OpenResult(root + sub, KEY_CREATE_SUB_KEY));
    }
    printf("set-value SOFTWARE\\Velcora\\Quendo=%ld\n",
           OpenResult("SOFTWARE\\Velcora\\Quendo", KEY_SET_VALUE));
    RevertToSelf();
    DWORD stored = 0;
    size = sizeof stored;
    RegGetValueA(HKEY_LOCAL_MACHINE, (root + "\\Config\\IVR").c_str(), "VoiceMessageWaiting",
                 RRF_RT_REG_DWORD, nullptr, &stored, &size);
    printf("stored=%lu\n", stored);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
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
    if (command == "as-user" && argc == 4) {
        return AsUser(argv[2], argv[3]);
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    HKEY key = nullptr;
    if (command == "key-dacl" && argc == 4 &&
        ConvertStringSecurityDescriptorToSecurityDescriptorA(argv[3], SDDL_REVISION_1, &descriptor,
                                                             nullptr) &&
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, argv[2], 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
        return RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS ? 0 : 1;
    }
    if (command == "hold" && CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                         nullptr) != INVALID_HANDLE_VALUE) {
        printf("held=1\n");
        fflush(stdout);
        Sleep(INFINITE);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    DWORD status = 1;
    if (command == "run" &&
        CreateProcessA(nullptr, argv[2], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        WaitForSingleObject(child.hProcess, INFINITE);
        GetExitCodeProcess(child.hProcess, &status);
        return (int)status;
    }
    return command == "hold" || command == "run" || command == "key-dacl" ? 1 : Usage();
}
