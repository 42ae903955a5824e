// OrvinSetupHelper.exe: the steps of OrvinAgentSetup.exe and its uninstaller that a user of
// the PC could otherwise lead astray, and the translation file, which needs the agent's own
// reading of the system's language. The setup runs it, elevated, from its temporary folder;
// it is never installed.
//
// The agent runs as every user who logs on, so what one user may change, every user's agent
// reads: users get write access only to the folders that hold their data, and to the one
// configuration key the agent writes. A folder users may write in may hold a link (a
// junction, a symbolic link) that they made; nothing here follows one: access lists are set
// through a handle that is checked to be the folder itself, and without passing them on to
// what lies below (Windows' own propagation would walk into a user's junction), and a file
// is deleted only when the handle opened on it shows the path it was asked for.
//
//   folder program PATH     PATH, made when missing (a link there is removed first), gets
//                           the access list of the Program Files folder, protected, with
//                           Administrators as owner: administrators change it, users read
//                           and run
//   folder files PATH       the same, and users may add files to it and change or delete
//                           the files there (voice messages, the greeting, recordings); no
//                           folders
//   grant-key KEY           users get exactly set-value (KEY_SET_VALUE) on HKLM\KEY, besides
//                           what the key grants them already
//   delete PATH             deletes the file PATH, unless it is reached through a link
//   remove-after PID FILE   once process PID has ended (at most 60 s), deletes FILE as
//                           delete does, then its folder and that folder's parent when empty
//   close-windows CLASS     WM_CLOSE to every top-level window of class CLASS on every
//                           desktop of every window station of this session that it may
//                           open (another session's are out of any program's reach), then
//                           up to 5 s for their programs to end; status 1 when one did not
//   translation CABINET     unpacks "zuvoip.lng" into the Windows folder for the system's
//                           language (as the agent would), from the translation cabinet;
//                           an older one goes first, and nothing is needed on an English
//                           system with code page 1252
//
// Prints one line per step: what was set ("PATH: SDDL"), deleted or unpacked, or why not.
// Exit status 0 done, 1 a step failed, 2 wrong command line.
#include "base/translate/CabinetExtract.h"
#include "base/translate/TranslationText.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// What users may do in a "files" folder besides reading: add files to the folder itself
// (FILE_ADD_FILE, no sub-folders), and change, replace or delete the files in it (modify).
const wchar_t kUsersAddFiles[] = L"(A;;0x2;;;BU)(A;OIIO;0x1301bf;;;BU)";
// The agent's one right on the configuration key it writes.
const wchar_t kUsersSetValue[] = L"(A;;0x2;;;BU)";

// The ANSI code page's text: what the cabinet API takes for a path, and what the setup reads
// from this program's output.
std::string Narrow(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) {
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    }
    return out;
}

std::wstring Widen(const std::string& text) {
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(size > 0 ? size - 1 : 0, L'\0');
    if (size > 1) {
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), size);
    }
    return out;
}

void Say(const std::wstring& line) {
    printf("%s\n", Narrow(line).c_str());
    fflush(stdout);
}

int Fail(const std::wstring& line) {
    Say(L"error: " + line);
    return kExitFailed;
}

std::wstring ErrorText(DWORD error) {
    return L"error " + std::to_wstring(error);
}

// ---- Access lists as SDDL text: the entries of a DACL are its top-level "(...)" groups
// (a conditional entry nests parentheses); an entry's fields are type;flags;rights;
// object;inherited object;trustee.

std::vector<std::wstring> Entries(const std::wstring& dacl) {
    std::vector<std::wstring> entries;
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i < dacl.size(); ++i) {
        if (dacl[i] == L'(' && depth++ == 0) {
            start = i;
        } else if (dacl[i] == L')' && depth > 0 && --depth == 0) {
            entries.push_back(dacl.substr(start, i - start + 1));
        }
    }
    return entries;
}

std::wstring Field(const std::wstring& entry, int index) {
    size_t begin = 1;
    for (int i = 0; i < index; ++i) {
        begin = entry.find(L';', begin);
        if (begin == std::wstring::npos) {
            return L"";
        }
        ++begin;
    }
    const size_t end = entry.find_first_of(L";)", begin);
    return entry.substr(begin, end == std::wstring::npos ? std::wstring::npos : end - begin);
}

bool Inherited(const std::wstring& entry) {
    const std::wstring flags = Field(entry, 1);
    for (size_t i = 0; i + 1 < flags.size(); i += 2) {
        if (flags.compare(i, 2, L"ID") == 0) {
            return true;
        }
    }
    return false;
}

// The entry as an explicit one: its "ID" flag dropped.
std::wstring Explicit(const std::wstring& entry) {
    const size_t begin = entry.find(L';') + 1;
    const size_t end = entry.find(L';', begin);
    std::wstring flags;
    for (size_t i = begin; i + 1 < end; i += 2) {
        if (entry.compare(i, 2, L"ID") != 0) {
            flags += entry.substr(i, 2);
        }
    }
    return entry.substr(0, begin) + flags + entry.substr(end);
}

bool DaclText(PSECURITY_DESCRIPTOR descriptor, std::wstring& text) {
    wchar_t* sddl = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
        return false;
    }
    text = sddl;
    LocalFree(sddl);
    return true;
}

struct LocalDescriptor {
    PSECURITY_DESCRIPTOR p = nullptr;
    ~LocalDescriptor() { LocalFree(p); }
};

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE && h != nullptr) {
            CloseHandle(h);
        }
    }
};

// ---- folder

// The entries of the Program Files folder's access list, each made explicit.
bool ProgramFilesEntries(std::wstring& entries, std::wstring& why) {
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = ExpandEnvironmentStringsW(L"%ProgramFiles%", folder, MAX_PATH);
    if (length == 0 || length > MAX_PATH || folder[0] == L'%') {
        why = L"no Program Files folder";
        return false;
    }
    LocalDescriptor descriptor;
    PACL dacl = nullptr;
    const DWORD error = GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                              nullptr, &dacl, nullptr, &descriptor.p);
    std::wstring text;
    if (error != ERROR_SUCCESS || !DaclText(descriptor.p, text)) {
        why = std::wstring(L"the access list of ") + folder + L" cannot be read (" + ErrorText(error) + L")";
        return false;
    }
    entries.clear();
    for (const std::wstring& entry : Entries(text)) {
        entries += Explicit(entry);
    }
    if (entries.empty()) {
        why = std::wstring(L"the access list of ") + folder + L" is empty";
        return false;
    }
    return true;
}

int SecureFolder(const std::wstring& kind, const std::wstring& path) {
    if (kind != L"program" && kind != L"files") {
        return kExitUsage;
    }
    std::wstring entries, why;
    if (!ProgramFilesEntries(entries, why)) {
        return Fail(path + L": " + why);
    }
    const std::wstring sddl = L"O:BAD:P" + entries + (kind == L"files" ? kUsersAddFiles : L"");

    // A link where the folder belongs goes (only the link, not what it leads to).
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || !RemoveDirectoryW(path.c_str())) {
            return Fail(path + L": a link that cannot be removed (" + ErrorText(GetLastError()) + L")");
        }
        Say(path + L": the link there was removed");
    } else if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return Fail(path + L": a file, not a folder");
    }
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return Fail(path + L": cannot be made (" + ErrorText(GetLastError()) + L")");
    }

    Handle folder;
    folder.h = CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (folder.h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(folder.h, &info)) {
        return Fail(path + L": cannot be opened (" + ErrorText(GetLastError()) + L")");
    }
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return Fail(path + L": turned into a link while setup worked on it");
    }
    LocalDescriptor descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor.p,
                                                              nullptr)) {
        return Fail(path + L": no access list from " + sddl);
    }
    // The kernel's own call: the folder alone, nothing passed on to what it holds.
    if (!SetKernelObjectSecurity(folder.h, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                 descriptor.p)) {
        return Fail(path + L": the access list cannot be set (" + ErrorText(GetLastError()) + L")");
    }
    Say(path + L": " + sddl);
    return kExitOk;
}

// ---- grant-key

LONG KeyDaclText(HKEY key, std::wstring& text) {
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> descriptor(size ? size : 1);
    const LONG result = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.data(), &size);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    return DaclText(descriptor.data(), text) ? ERROR_SUCCESS : (LONG)GetLastError();
}

// An explicit entry allowing users exactly set-value, as this program writes it and as
// Windows prints it back.
bool IsUsersSetValue(const std::wstring& entry) {
    const std::wstring rights = Field(entry, 2);
    return Field(entry, 0) == L"A" && Field(entry, 1).empty() && Field(entry, 5) == L"BU" &&
           (rights == L"DC" || (rights.rfind(L"0x", 0) == 0 && wcstoul(rights.c_str(), nullptr, 16) == 2));
}

int GrantKey(const std::wstring& key) {
    HKEY handle = nullptr;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, READ_CONTROL | WRITE_DAC, &handle);
    if (result != ERROR_SUCCESS) {
        return Fail(L"HKLM\\" + key + L": cannot be opened (" + ErrorText(result) + L")");
    }
    std::wstring text;
    result = KeyDaclText(handle, text);
    if (result != ERROR_SUCCESS) {
        RegCloseKey(handle);
        return Fail(L"HKLM\\" + key + L": its access list cannot be read (" + ErrorText(result) + L")");
    }
    // The right goes in once (an earlier setup's entry gives way), before the inherited
    // entries, where Windows keeps explicit ones; what else the key grants stays.
    const size_t open = text.find(L'(');
    std::wstring dacl = text.substr(0, open == std::wstring::npos ? text.size() : open);
    bool placed = false;
    for (const std::wstring& entry : Entries(text)) {
        if (IsUsersSetValue(entry)) {
            continue;
        }
        if (Inherited(entry) && !placed) {
            dacl += kUsersSetValue;
            placed = true;
        }
        dacl += entry;
    }
    if (!placed) {
        dacl += kUsersSetValue;
    }
    LocalDescriptor descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(dacl.c_str(), SDDL_REVISION_1, &descriptor.p,
                                                              nullptr)) {
        RegCloseKey(handle);
        return Fail(L"HKLM\\" + key + L": no access list from " + dacl);
    }
    result = RegSetKeySecurity(handle, DACL_SECURITY_INFORMATION, descriptor.p);
    if (result == ERROR_SUCCESS && KeyDaclText(handle, dacl) != ERROR_SUCCESS) {
        dacl = L"(not read back)";
    }
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS) {
        return Fail(L"HKLM\\" + key + L": the access list cannot be set (" + ErrorText(result) + L")");
    }
    Say(L"HKLM\\" + key + L": " + dacl);
    return kExitOk;
}

// ---- delete

std::wstring WithoutLongPrefix(std::wstring path) {
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        return L"\\" + path.substr(7);
    }
    return path.rfind(L"\\\\?\\", 0) == 0 ? path.substr(4) : path;
}

int CheckedDelete(const std::wstring& path) {
    Handle file;
    file.h = CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file.h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return kExitOk;
        }
        return Fail(path + L": cannot be opened (" + ErrorText(error) + L")");
    }
    // Where the handle really is, against where it was asked for (short names made long):
    // a junction on the way shows as another path.
    wchar_t full[MAX_PATH * 2] = {}, asked[MAX_PATH * 2] = {}, reached[MAX_PATH * 2] = {};
    const DWORD fullLength = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
    const DWORD askedLength = fullLength ? GetLongPathNameW(full, asked, MAX_PATH * 2) : 0;
    const DWORD reachedLength = GetFinalPathNameByHandleW(file.h, reached, MAX_PATH * 2, VOLUME_NAME_DOS);
    if (!askedLength || askedLength >= MAX_PATH * 2 || !reachedLength || reachedLength >= MAX_PATH * 2) {
        return Fail(path + L": where it lies cannot be told (" + ErrorText(GetLastError()) + L")");
    }
    const std::wstring real = WithoutLongPrefix(reached);
    if (CompareStringOrdinal(real.c_str(), -1, asked, -1, TRUE) != CSTR_EQUAL) {
        return Fail(path + L": not deleted, it leads to " + real);
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!SetFileInformationByHandle(file.h, FileDispositionInfo, &disposition, sizeof disposition)) {
        return Fail(path + L": cannot be deleted (" + ErrorText(GetLastError()) + L")");
    }
    Say(path + L": deleted");
    return kExitOk;
}

std::wstring Parent(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos || slash < 3 ? L"" : path.substr(0, slash);
}

int RemoveAfter(const std::wstring& pidText, const std::wstring& file) {
    wchar_t* end = nullptr;
    const unsigned long pid = wcstoul(pidText.c_str(), &end, 10);
    if (pidText.empty() || *end) {
        return kExitUsage;
    }
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process) {
        const DWORD waited = WaitForSingleObject(process, 60000);
        CloseHandle(process);
        if (waited != WAIT_OBJECT_0) {
            return Fail(file + L": process " + pidText + L" did not end");
        }
    }
    const int status = CheckedDelete(file);
    // Only empty folders go; the user's files keep theirs.
    const std::wstring folder = Parent(file);
    if (!folder.empty() && RemoveDirectoryW(folder.c_str())) {
        const std::wstring parent = Parent(folder);
        if (!parent.empty()) {
            RemoveDirectoryW(parent.c_str());
        }
    }
    return status;
}

// ---- close-windows

constexpr DWORD kCloseWaitMs = 5000;

struct DesktopJob {
    HDESK desktop = nullptr;
    std::wstring className;
    std::wstring where;
    std::vector<DWORD> processes;
};

// On a thread of its own, moved to the desktop: window messages do not cross desktops, and
// only a thread without windows may move.
DWORD WINAPI CloseOnDesktop(void* parameter) {
    auto* job = static_cast<DesktopJob*>(parameter);
    if (!SetThreadDesktop(job->desktop)) {
        return GetLastError();
    }
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, job->className.c_str(), nullptr)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (PostMessageW(window, WM_CLOSE, 0, 0)) {
            Say(job->className + L" on " + job->where + L": closed (process " + std::to_wstring(process) +
                L")");
            job->processes.push_back(process);
        }
    }
    return 0;
}

BOOL CALLBACK CollectName(LPWSTR name, LPARAM names) {
    reinterpret_cast<std::vector<std::wstring>*>(names)->push_back(name);
    return TRUE;
}

// Closes the windows of one window station's desktops; the process's window station is
// this one meanwhile (a desktop opens only in the process's window station).
void CloseOnStation(const std::wstring& stationName, const std::wstring& className,
                    std::vector<DWORD>& processes) {
    HWINSTA station = OpenWindowStationW(stationName.c_str(), FALSE,
                                         WINSTA_ENUMDESKTOPS | WINSTA_ENUMERATE | WINSTA_READATTRIBUTES |
                                             WINSTA_ACCESSGLOBALATOMS);
    if (!station) {
        return; // another's, this program may not look in
    }
    HWINSTA own = GetProcessWindowStation();
    std::vector<std::wstring> desktops;
    if (SetProcessWindowStation(station)) {
        EnumDesktopsW(station, CollectName, reinterpret_cast<LPARAM>(&desktops));
        for (const std::wstring& desktopName : desktops) {
            DesktopJob job;
            job.desktop = OpenDesktopW(desktopName.c_str(), 0, FALSE,
                                       DESKTOP_READOBJECTS | DESKTOP_ENUMERATE | DESKTOP_WRITEOBJECTS);
            if (!job.desktop) {
                continue;
            }
            job.className = className;
            job.where = stationName + L"\\" + desktopName;
            if (HANDLE thread = CreateThread(nullptr, 0, CloseOnDesktop, &job, 0, nullptr)) {
                WaitForSingleObject(thread, INFINITE);
                CloseHandle(thread);
            }
            CloseDesktop(job.desktop);
            processes.insert(processes.end(), job.processes.begin(), job.processes.end());
        }
        SetProcessWindowStation(own);
    }
    CloseWindowStation(station);
}

int CloseWindows(const std::wstring& className) {
    std::vector<std::wstring> stations;
    EnumWindowStationsW(CollectName, reinterpret_cast<LPARAM>(&stations));
    std::vector<DWORD> processes;
    for (const std::wstring& station : stations) {
        CloseOnStation(station, className, processes);
    }
    if (processes.empty()) {
        Say(className + L": no window");
        return kExitOk;
    }
    int status = kExitOk;
    const ULONGLONG deadline = GetTickCount64() + kCloseWaitMs;
    for (size_t i = 0; i < processes.size(); ++i) {
        if (std::find(processes.begin(), processes.begin() + i, processes[i]) != processes.begin() + i) {
            continue;
        }
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processes[i]);
        if (!process) {
            continue; // gone already
        }
        const ULONGLONG now = GetTickCount64();
        const DWORD waited = WaitForSingleObject(process, now < deadline ? (DWORD)(deadline - now) : 0);
        CloseHandle(process);
        if (waited != WAIT_OBJECT_0) {
            Say(className + L": process " + std::to_wstring(processes[i]) + L" still runs");
            status = kExitFailed;
        }
    }
    return status;
}

// ---- translation

bool ReadHead(const std::string& path, std::string& bytes) {
    Handle file;
    file.h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char buffer[orvin::kFirstLineLimit + 3] = {};
    DWORD read = 0;
    if (file.h == INVALID_HANDLE_VALUE || !ReadFile(file.h, buffer, sizeof buffer, &read, nullptr)) {
        return false;
    }
    bytes.assign(buffer, read);
    return true;
}

int UnpackTranslation(const std::wstring& cabinetPath) {
    char windows[MAX_PATH] = {}, language[128] = {};
    const UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return Fail(L"translation: no Windows folder");
    }
    const std::string folder = windows;
    const std::string target = folder + "\\" + orvin::kTranslationFileName;
    if (!DeleteFileA(target.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        return Fail(L"translation: the older " + Widen(target) + L" cannot be deleted (" +
                    ErrorText(GetLastError()) + L")");
    }
    GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE, language, sizeof language);
    std::string key;
    if (!orvin::MakeLanguageKey(language, GetACP(), key)) {
        Say(L"translation: none needed on this system");
        return kExitOk;
    }
    const std::wstring keyText = Widen(key);
    const std::string extracted = folder + "\\" + key + ".txt";
    const orvin::CabinetExtraction extraction = orvin::ExtractCabinetMember(
        Narrow(cabinetPath), key + ".txt", extracted, orvin::kTranslationFileLimit);
    if (!extraction.ok) {
        return Fail(L"translation: no " + keyText + L".txt from the cabinet (" + Widen(extraction.error) +
                    L"), English texts");
    }
    std::string head, line;
    if (!ReadHead(extracted, head) || !orvin::FirstLineOf(head.data(), head.size(), line) ||
        line != orvin::ExpectedFirstLine(key)) {
        DeleteFileA(extracted.c_str());
        return Fail(L"translation: " + keyText + L".txt in the cabinet is not its translation");
    }
    if (!MoveFileExA(extracted.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD error = GetLastError();
        DeleteFileA(extracted.c_str());
        return Fail(L"translation: zuvoip.lng cannot be written (" + ErrorText(error) + L")");
    }
    Say(L"translation: zuvoip.lng for " + keyText);
    return kExitOk;
}

} // namespace

int main() {
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args(argv ? argv + 1 : nullptr, argv ? argv + count : nullptr);
    LocalFree(argv);
    int status = kExitUsage;
    if (args.size() == 3 && args[0] == L"folder") {
        status = SecureFolder(args[1], args[2]);
    } else if (args.size() == 2 && args[0] == L"grant-key") {
        status = GrantKey(args[1]);
    } else if (args.size() == 2 && args[0] == L"delete") {
        status = CheckedDelete(args[1]);
    } else if (args.size() == 3 && args[0] == L"remove-after") {
        status = RemoveAfter(args[1], args[2]);
    } else if (args.size() == 2 && args[0] == L"close-windows") {
        status = CloseWindows(args[1]);
    } else if (args.size() == 2 && args[0] == L"translation") {
        status = UnpackTranslation(args[1]);
    }
    if (status == kExitUsage) {
        fputs("usage: OrvinSetupHelper.exe folder program|files PATH | grant-key KEY | delete PATH |\n"
              "       remove-after PID FILE | close-windows CLASS | translation CABINET\n",
              stderr);
    }
    return status;
}
