#include "base/translate/Translator.h"

#include "base/trace/Trace.h"
#include "base/translate/CabinetExtract.h"
#include "base/translate/TranslationText.h"

#include <cstring>
#include <mutex>
#include <new>

using namespace orvin;

namespace {

const char* const kSwitchSubKey = "\\HostBasedModemData\\AdditionalService\\General";
const char* const kSwitchValue = "DisableTranslation";
const char* const kInstallationFolderValue = "SoftwareInstallationFolder";
constexpr size_t kInstallationFolderSize = 260; // bytes, terminator included
constexpr size_t kTextBufferSize = 512;

struct RegKey {
    HKEY hKey = nullptr;
    ~RegKey() {
        if (hKey) {
            RegCloseKey(hKey);
        }
    }
};

struct FileHandle {
    HANDLE hFile = INVALID_HANDLE_VALUE;
    ~FileHandle() {
        if (hFile != INVALID_HANDLE_VALUE) {
            CloseHandle(hFile);
        }
    }
};

// The key of the registry root and a relative path, with one separator between them.
std::string SubKey(const std::string& root, const char* relative) {
    std::string key = root;
    while (!key.empty() && key.back() == '\\') {
        key.pop_back();
    }
    return key + relative;
}

// A file in a folder; empty when there is no folder, so nothing is looked for relative to
// whatever the current directory happens to be.
std::string Join(const std::string& folder, const char* name) {
    if (folder.empty()) {
        return "";
    }
    const char last = folder.back();
    return folder + (last == '\\' || last == '/' ? "" : "\\") + name;
}

bool IsFile(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CanOpenForReading(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    FileHandle file;
    file.hFile =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file.hFile != INVALID_HANDLE_VALUE;
}

bool ReadFirstLine(const std::string& path, std::string& line) {
    FileHandle file;
    file.hFile = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.hFile == INVALID_HANDLE_VALUE) {
        return false;
    }
    char bytes[kFirstLineLimit + 1];
    DWORD got = 0;
    if (!ReadFile(file.hFile, bytes, sizeof bytes, &got, nullptr)) {
        return false;
    }
    return FirstLineOf(bytes, got, line);
}

std::string FolderOf(const char* path) {
    const char* slash = std::strrchr(path, '\\');
    return slash ? std::string(path, size_t(slash - path)) : "";
}

std::mutex& InstanceLock() {
    static std::mutex lock;
    return lock;
}
std::atomic<CTranslator*> g_pInstance{nullptr};
std::atomic<CTranslator::RegistryRootFinder> g_pRootFinder{nullptr};
constexpr size_t kRegistryRootSize = 260; // bytes, as the enumeration reports a key

} // namespace

void CTranslator::SetRegistryRootFinder(RegistryRootFinder finder) {
    g_pRootFinder.store(finder, std::memory_order_release);
}

CTranslator* CTranslator::GetInstance() {
    if (CTranslator* translator = g_pInstance.load(std::memory_order_acquire)) {
        return translator;
    }
    std::lock_guard<std::mutex> lock(InstanceLock());
    if (CTranslator* translator = g_pInstance.load(std::memory_order_acquire)) {
        return translator;
    }
    CTranslator* translator = nullptr;
    try {
        translator = new CTranslator;
        char root[kRegistryRootSize] = {};
        if (RegistryRootFinder finder = g_pRootFinder.load(std::memory_order_acquire)) {
            finder(root, sizeof root);
        }
        translator->Load(SystemEnvironment(root));
    } catch (const std::bad_alloc&) {
        TRACE("CTranslator::GetInstance - out of memory, no translator");
        delete translator;
        return nullptr;
    }
    g_pInstance.store(translator, std::memory_order_release);
    return translator;
}

void CTranslator::DestroyInstance() {
    std::lock_guard<std::mutex> lock(InstanceLock());
    delete g_pInstance.exchange(nullptr, std::memory_order_acq_rel);
}

CTranslator::Environment CTranslator::SystemEnvironment(const std::string& registryRoot) {
    Environment environment;
    environment.registryRoot = registryRoot;
    char text[MAX_PATH + 1] = {};
    if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE, text, sizeof text) > 0) {
        environment.languageName = text;
    }
    environment.codePage = GetACP();
    DWORD length = GetCurrentDirectoryA(sizeof text, text);
    if (length > 0 && length < sizeof text) {
        environment.currentDirectory = text;
    }
    length = GetWindowsDirectoryA(text, sizeof text);
    if (length > 0 && length < sizeof text) {
        environment.windowsDirectory = text;
    }
    length = GetModuleFileNameA(nullptr, text, sizeof text);
    if (length > 0 && length < sizeof text) {
        environment.executableDirectory = FolderOf(text);
    }
    return environment;
}

CTranslator::CTranslator() {
    for (size_t i = 0; i < kBuiltInTextCount; ++i) {
        m_NumberToIndex[kBuiltInTexts[i].number] = i;
        m_TextToEntry[kBuiltInTexts[i].english] = {kBuiltInTexts[i].number, i};
    }
}

void CTranslator::Load(const Environment& environment) {
    m_bTranslationDisabled = ReadTranslationSwitch(environment.registryRoot);

    // A translation file in the current directory comes first.
    std::string located = Join(environment.currentDirectory, kTranslationFileName);
    if (!CanOpenForReading(located)) {
        located = Join(environment.windowsDirectory, kTranslationFileName);
    }

    std::string key;
    if (!MakeLanguageKey(environment.languageName.c_str(), environment.codePage, key)) {
        TRACE("CTranslator::Load - language \"%s\", code page %u: English texts",
              environment.languageName.c_str(), environment.codePage);
        return;
    }
    m_strLanguageKey = key;
    TRACE("CTranslator::Load - language \"%s\", code page %u: language key %s",
          environment.languageName.c_str(), environment.codePage, key.c_str());

    std::string prepared;
    if (!PrepareLngFile(environment, located, prepared) || !LoadTranslationFile(prepared)) {
        TRACE("CTranslator::Load - no translation for %s, English texts", key.c_str());
    }
}

bool CTranslator::ReadTranslationSwitch(const std::string& registryRoot) {
    if (registryRoot.empty()) {
        return false;
    }
    const std::string keyName = SubKey(registryRoot, kSwitchSubKey);
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, KEY_QUERY_VALUE, &key.hKey) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0, value = 0, size = sizeof value;
    const LONG result =
        RegQueryValueExA(key.hKey, kSwitchValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (result == ERROR_FILE_NOT_FOUND) {
        return false;
    }
    if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) {
        TRACE("CTranslator::Load - %s\\%s is not a DWORD (result %ld, type %lu, %lu bytes), ignored",
              keyName.c_str(), kSwitchValue, result, type, size);
        return false;
    }
    if (value) {
        TRACE("CTranslator::Load - translation disabled by %s = %lu", kSwitchValue, value);
    }
    return value != 0;
}

std::string CTranslator::ReadInstallationFolder(const std::string& registryRoot) {
    if (registryRoot.empty()) {
        return "";
    }
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SubKey(registryRoot, "").c_str(), 0, KEY_QUERY_VALUE, &key.hKey) !=
        ERROR_SUCCESS) {
        return "";
    }
    // One byte more than the value may have, so the text always ends within the buffer.
    char folder[kInstallationFolderSize + 1] = {};
    DWORD type = 0, size = kInstallationFolderSize;
    const LONG result = RegQueryValueExA(key.hKey, kInstallationFolderValue, nullptr, &type,
                                         reinterpret_cast<BYTE*>(folder), &size);
    if (result == ERROR_FILE_NOT_FOUND) {
        return "";
    }
    if (result != ERROR_SUCCESS || type != REG_SZ) {
        TRACE("PrepareLngFile>> %s is not a text of at most %u bytes (result %ld, type %lu), ignored",
              kInstallationFolderValue, unsigned(kInstallationFolderSize), result, type);
        return "";
    }
    folder[size < kInstallationFolderSize ? size : kInstallationFolderSize] = 0;
    return folder; // up to the first terminator
}

bool CTranslator::PrepareLngFile(const Environment& environment, const std::string& located,
                                 std::string& prepared) {
    const std::string folder = ReadInstallationFolder(environment.registryRoot);
    TRACE("PrepareLngFile>> Installation folder - %s", folder.c_str());
    std::string cabinet = Join(folder, kTranslationCabinetName);
    if (!IsFile(cabinet)) {
        cabinet = Join(environment.executableDirectory, kTranslationCabinetName);
    }

    const std::string expected = ExpectedFirstLine(m_strLanguageKey);
    if (IsFile(located)) {
        std::string line;
        if (ReadFirstLine(located, line) && line == expected) {
            prepared = located;
            return true;
        }
        TRACE("PrepareLngFile>> %s does not begin with \"%s\": replaced", located.c_str(), expected.c_str());
        if (!DeleteFileA(located.c_str())) {
            TRACE("PrepareLngFile>> Can not delete %s (error %lu)", located.c_str(), GetLastError());
        }
    }

    if (environment.windowsDirectory.empty()) {
        TRACE("PrepareLngFile>> No Windows directory");
        return false;
    }
    const std::string member = m_strLanguageKey + ".txt";
    const std::string extracted = Join(environment.windowsDirectory, member.c_str());
    if (!ExtractLngFile(cabinet, member, extracted)) {
        const std::string windowsCabinet = Join(environment.windowsDirectory, kTranslationCabinetName);
        if (!ExtractLngFile(windowsCabinet, member, extracted)) {
            return false;
        }
        // That cabinet is left for one unpacking only.
        DeleteFileA(windowsCabinet.c_str());
    }

    const std::string target = Join(environment.windowsDirectory, kTranslationFileName);
    if (!MoveFileExA(extracted.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        TRACE("PrepareLngFile>> Can not rename %s to %s (error %lu)", extracted.c_str(), target.c_str(),
              GetLastError());
        DeleteFileA(extracted.c_str());
        return false;
    }
    prepared = target;
    return true;
}

bool CTranslator::ExtractLngFile(const std::string& cabinet, const std::string& member,
                                 const std::string& target) {
    const CabinetExtraction extraction = ExtractCabinetMember(cabinet, member, target, kTranslationFileLimit);
    if (!extraction.ok) {
        TRACE("PrepareLngFile>> Can not extract %s from %s: %s", member.c_str(), cabinet.c_str(),
              extraction.error.c_str());
        return false;
    }
    // A member that is not the file it is named after is as good as none.
    const std::string expected = ExpectedFirstLine(m_strLanguageKey);
    std::string line;
    if (!ReadFirstLine(target, line) || line != expected) {
        TRACE("PrepareLngFile>> %s in %s does not begin with \"%s\": not used", member.c_str(),
              cabinet.c_str(), expected.c_str());
        DeleteFileA(target.c_str());
        return false;
    }
    TRACE("PrepareLngFile>> %s extracted from %s", member.c_str(), cabinet.c_str());
    return true;
}

bool CTranslator::LoadTranslationFile(const std::string& path) {
    FileHandle file;
    file.hFile = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size = {};
    if (file.hFile == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.hFile, &size)) {
        TRACE("CTranslator::LoadTranslationFile - Can not open %s (error %lu)", path.c_str(), GetLastError());
        return false;
    }
    if (size.QuadPart > LONGLONG(kTranslationFileLimit)) {
        TRACE("CTranslator::LoadTranslationFile - %s has %lld bytes, more than a translation file may have",
              path.c_str(), size.QuadPart);
        return false;
    }
    std::string text(size_t(size.QuadPart), '\0');
    size_t done = 0;
    while (done < text.size()) {
        DWORD got = 0;
        if (!ReadFile(file.hFile, &text[done], DWORD(text.size() - done), &got, nullptr) || got == 0) {
            break;
        }
        done += got;
    }
    text.resize(done); // a file cut short while reading gives what was there

    TranslationPairs pairs = ParseTranslationText(text.data(), text.size());
    for (const auto& refused : pairs.refused) {
        TRACE("CTranslator::LoadTranslationFile - %s line %d refused: %s", path.c_str(), refused.line,
              refused.reason);
    }
    keys = std::move(pairs.keys);
    values = std::move(pairs.values);
    m_vbTranslated = std::move(pairs.translated);
    TRACE("CTranslator::LoadTranslationFile - %u texts from %s", unsigned(keys.size()), path.c_str());
    return true;
}

int CTranslator::Translate(int number, char* buffer, size_t capacity) {
    const auto entry = m_NumberToIndex.find(number);
    if (entry == m_NumberToIndex.end() || !buffer) {
        return 0;
    }
    m_nLastFound.store(number, std::memory_order_relaxed);
    const std::string english = kBuiltInTexts[entry->second].english;
    const std::string* text = &english;
    const std::string* found = FindTranslation(english);
    const int translated = found ? 1 : 0;
    if (found) {
        text = found;
    }
    if (text->size() >= capacity) {
        return 0;
    }
    std::memcpy(buffer, text->c_str(), text->size() + 1);
    return translated;
}

const std::string* CTranslator::FindTranslation(const std::string& english) const {
    if (m_bTranslationDisabled) {
        return nullptr;
    }
    for (size_t i = 0; i < keys.size(); ++i) {
        if (EqualIgnoringCase(english, keys[i])) {
            return m_vbTranslated[i] ? &values[i] : nullptr;
        }
    }
    return nullptr;
}

std::string CTranslator::TranslateText(const std::string& english) const {
    const std::string* found = FindTranslation(english);
    return found ? *found : english;
}

int CTranslator::GetTranslatedString(int number, std::string& destination) {
    destination.clear();
    char buffer[kTextBufferSize];
    buffer[0] = 0;
    Translate(number, buffer, sizeof buffer);
    if (!buffer[0]) {
        return 0;
    }
    destination = buffer;
    return 1;
}

int CTranslator::NumberOfText(const char* text) const {
    if (!text) {
        return kNoTextNumber;
    }
    const auto entry = m_TextToEntry.find(text);
    return entry == m_TextToEntry.end() ? kNoTextNumber : entry->second.first;
}

bool CTranslator::SetDialogText(HWND window, int control, int number, const char* english,
                                const char* suffix) {
    if (!window) {
        return false;
    }
    HWND target = control == -1 ? window : GetDlgItem(window, control);
    if (!target) {
        TRACE("CTranslator::SetDialogText - no control %d", control);
        return false;
    }
    if (english) {
        number = NumberOfText(english);
        if (number == kNoTextNumber) {
            return false;
        }
    }
    std::string text;
    if (!GetTranslatedString(number, text)) {
        return false;
    }
    if (suffix) {
        text += suffix;
    }
    return SetWindowTextA(target, text.c_str()) != FALSE;
}
