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
//   key-dacl KEY SDDL  gives HKLM\KEY and every key below it the access list SDDL (what
//                    Windows' inheritance gives them; Wine gives a new key none)
//   as-user ROOT FOLDER  as a standard user (this process's token with Administrators and
//                    its own user for denying only): the agent's IVR reads the
//                    configuration below ROOT for the installation FOLDER (read=N) and
//                    takes one waiting message away, its write to VoiceMessageWaiting; the
//                    value then holds stored=N. Then "KEY=RESULT" for the opens a user
//                    must not get: set-value on each key the agent only reads, a sub-key
//                    of Config\IVR (5: refused)
//   shortcut PATH    the shell link's target=, arguments= and folder= (its working folder)
//   hold PATH        keeps PATH open, sharing only reading, until killed; held=1 once open
//   run COMMANDLINE  runs the command line as Windows runs a registry's command, waits for
//                    it, and exits with its exit status
//
// Exit status 0 done, 1 a missing key for tree (or a failure of the others), 2 bad usage.
#include "base/config/ConfigParams.h"
#include "ivr/IvrStateMachine.h"
#include "tests/audio/capture/FakeAudioBuffer.h"

#include <windows.h>

#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

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
          "       as-user ROOT FOLDER | shortcut PATH | hold PATH | run COMMANDLINE\n",
          stderr);
    return 2;
}

bool SetKeyTree(HKEY parent, const std::string& path, PSECURITY_DESCRIPTOR descriptor) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | WRITE_DAC, &key) != ERROR_SUCCESS) {
        return false;
    }
    bool ok = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
    char name[256];
    for (DWORD i = 0; ok; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        ok = SetKeyTree(key, name, descriptor);
    }
    RegCloseKey(key);
    return ok;
}

struct NoReports : IIvrReportSink {
    void SendControlMsg(IMM*) override {}
};

// The IVR on buffers of its own: no sound device is needed to read and write the registry.
class QuietStateMachine : public CIvrStateMachine {
public:
    using CIvrStateMachine::CIvrStateMachine;

protected:
    bool OpenAudio(HWND) override {
        auto ring = std::make_shared<FakeRingState>(CPlaylistSound::kBufferBytes, TelephonePcmFormat());
        return OpenAudioOn(std::make_unique<FakeCaptureDevice>(std::make_shared<FakeCaptureDevice::Record>()),
                           std::make_unique<FakeRing>(ring));
    }
};

// A standard user's token for this thread: what this process's token has, with the
// Administrators group and the user itself only for denying.
bool BecomeStandardUser() {
    HANDLE process = nullptr, restricted = nullptr, impersonation = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process)) {
        return false;
    }
    BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD size = 0;
    PSID administrators = nullptr;
    bool ok = GetTokenInformation(process, TokenUser, user, sizeof user, &size) &&
              ConvertStringSidToSidA("S-1-5-32-544", &administrators);
    SID_AND_ATTRIBUTES disabled[2] = {{reinterpret_cast<TOKEN_USER*>(user)->User.Sid, 0},
                                      {administrators, 0}};
    ok = ok && CreateRestrictedToken(process, 0, 2, disabled, 0, nullptr, 0, nullptr, &restricted) &&
         DuplicateToken(restricted, SecurityImpersonation, &impersonation) &&
         SetThreadToken(nullptr, impersonation);
    LocalFree(administrators);
    for (HANDLE h : {process, restricted, impersonation}) {
        if (h) {
            CloseHandle(h);
        }
    }
    return ok;
}

LONG OpenResult(const std::string& path, REGSAM access) {
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key);
    if (key) {
        RegCloseKey(key);
    }
    return result;
}

int AsUser(const std::string& root, const std::string& folder) {
    if (!BecomeStandardUser()) {
        fprintf(stderr, "InstallProbe: no standard user's token (%lu)\n", GetLastError());
        return 1;
    }
    {
        NoReports reports;
        QuietStateMachine machine(&reports, 1, true);
        printf("initialized=%d\n", machine.Initialize(nullptr, folder, root) ? 1 : 0);
        printf("read=%d\n", machine.GetWaitingMsgCount());
        machine.RemoveWaitingMessage();
    }
    for (const char* sub : {"", "\\Config", "\\Config\\General", "\\Config\\UI", "\\Config\\IVR\\Pstn",
                            "\\Config\\IVR\\Voip", "\\Recorder"}) {
        printf("set-value %s%s=%ld\n", root.c_str(), sub, OpenResult(root + sub, KEY_SET_VALUE));
    }
    printf("set-value SOFTWARE\\Velcora\\Quendo=%ld\n",
           OpenResult("SOFTWARE\\Velcora\\Quendo", KEY_SET_VALUE));
    const std::string ivr = root + "\\Config\\IVR";
    printf("create-sub-key Config\\IVR=%ld\n", OpenResult(ivr, KEY_CREATE_SUB_KEY));
    RevertToSelf();
    DWORD stored = 0, size = sizeof stored;
    const LONG result = RegGetValueA(HKEY_LOCAL_MACHINE, ivr.c_str(), "VoiceMessageWaiting", RRF_RT_REG_DWORD,
                                     nullptr, &stored, &size);
    printf("stored=%ld\n", result == ERROR_SUCCESS ? (long)stored : -1L);
    return 0;
}

int Shortcut(const char* path) {
    wchar_t wide[MAX_PATH] = {}, target[MAX_PATH] = {}, arguments[MAX_PATH] = {}, folder[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
    CoInitialize(nullptr);
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    const bool ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                               IID_IShellLinkW, reinterpret_cast<void**>(&link))) &&
                    SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                    SUCCEEDED(file->Load(wide, STGM_READ)) &&
                    SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, 0)) &&
                    SUCCEEDED(link->GetArguments(arguments, MAX_PATH)) &&
                    SUCCEEDED(link->GetWorkingDirectory(folder, MAX_PATH));
    if (ok) {
        printf("target=%ls\narguments=%ls\nfolder=%ls\n", target, arguments, folder);
    }
    if (file) {
        file->Release();
    }
    if (link) {
        link->Release();
    }
    CoUninitialize();
    return ok ? 0 : 1;
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
    if (command == "key-dacl" && argc == 4) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(argv[3], SDDL_REVISION_1, &descriptor,
                                                                  nullptr)) {
            return Usage();
        }
        const bool ok = SetKeyTree(HKEY_LOCAL_MACHINE, argv[2], descriptor);
        LocalFree(descriptor);
        return ok ? 0 : 1;
    }
    if (command == "shortcut") {
        return Shortcut(argv[2]);
    }
    if (command == "hold") {
        HANDLE file = CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return 1;
        }
        printf("held=1\n");
        fflush(stdout);
        Sleep(INFINITE);
    }
    if (command == "run") {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        std::string line = argv[2];
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process)) {
            fprintf(stderr, "InstallProbe: cannot run %s (%lu)\n", argv[2], GetLastError());
            return 1;
        }
        DWORD status = 1;
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return (int)status;
    }
    return Usage();
}
