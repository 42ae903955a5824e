// The user-interface translator: the agent's few fixed English texts (menu entries,
// status texts, warnings), each known by its number, in the system's language when a
// translation for it is installed.
//
// On creation the translator reads the translation switch below the adaptor software key,
// works out the language key from the system default language's English name and the
// ANSI code page ("German1252", "Chinese936"), and, unless the system is English with code
// page 1252, makes sure "zuvoip.lng" in the Windows directory serves that key: a file
// whose first line names another key is replaced by the key's member of the cabinet
// "zuvoiplng.cab" (from the installation folder, else beside the program, else in the
// Windows directory). Any failure leaves the English texts in force; nothing is shown.
//
// Threads: GetInstance and DestroyInstance may be called from any thread; the instance is
// made and loaded once, under a lock. After loading the translator does not change, so
// Translate, GetTranslatedString and NumberOfText may run on several threads at once.
// SetDialogText belongs on the thread that owns the dialog. DestroyInstance is for
// shutdown, when no other thread uses the translator any more.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

class CTranslator {
public:
    // What loading needs from the system; SystemEnvironment gathers it.
    struct Environment {
        std::string registryRoot; // the adaptor software key under HKEY_LOCAL_MACHINE; may be empty
        std::string languageName; // English name of the system default language
        unsigned codePage = 0;    // the ANSI code page
        std::string currentDirectory;
        std::string windowsDirectory;
        std::string executableDirectory;
    };

    // Where the process's translator learns the adaptor software key: the program installs
    // the adapter enumeration's finder before the first GetInstance (without one the key
    // is empty and the translation switch reads as off).
    typedef void (*RegistryRootFinder)(char* buffer, size_t capacity);
    static void SetRegistryRootFinder(RegistryRootFinder finder);

    // The process's translator, made and loaded on the first call with the adaptor
    // software key the finder reports. Null only when it could not be allocated: the
    // caller then keeps its own English text.
    static CTranslator* GetInstance();
    // Shutdown: deletes the translator; a later GetInstance makes a new one.
    static void DestroyInstance();
    static Environment SystemEnvironment(const std::string& registryRoot);

    // The built-in English table only; Load adds the translation.
    CTranslator();
    CTranslator(const CTranslator&) = delete;
    CTranslator& operator=(const CTranslator&) = delete;

    void Load(const Environment& environment);

    // Writes the text for `number` into `buffer`. Returns 0 without writing when the
    // number is not in the built-in table or the text does not fit (length >= capacity);
    // otherwise 1 when a translation was written, 0 when the English text was.
    int Translate(int number, char* buffer, size_t capacity);
    // The text for `number`, translated or English, through a 512-byte buffer; the
    // destination is emptied first. Returns 1 when a text was produced.
    int GetTranslatedString(int number, std::string& destination);
    // Any English text by the text itself, for the product's other programs, whose texts
    // are not in the agent's table: its translation from the file when there is one, the
    // text itself otherwise.
    std::string TranslateText(const std::string& english) const;
    // The number of a built-in English text (exact), or 156.
    int NumberOfText(const char* text) const;
    // Sets the text of `control` in `window` (the window itself for -1): the text for
    // `number`, or, when `english` is given, for NumberOfText(english) (nothing happens
    // for a text not in the table), followed by `suffix` when given. An empty text is not
    // set. Returns true when the window text was set.
    bool SetDialogText(HWND window, int control, int number, const char* english = nullptr,
                       const char* suffix = nullptr);

    bool IsTranslationDisabled() const { return m_bTranslationDisabled; }
    // Empty until Load has found a language that needs a translation.
    const std::string& LanguageKey() const { return m_strLanguageKey; }
    // The translation file's pairs, the first line's included.
    size_t PairCount() const { return keys.size(); }
    // The number of the last entry a lookup found; 0 before any.
    int LastFoundNumber() const { return m_nLastFound.load(std::memory_order_relaxed); }

private:
    bool ReadTranslationSwitch(const std::string& registryRoot);
    std::string ReadInstallationFolder(const std::string& registryRoot);
    bool PrepareLngFile(const Environment& environment, const std::string& located, std::string& prepared);
    bool ExtractLngFile(const std::string& cabinet, const std::string& member, const std::string& target);
    bool LoadTranslationFile(const std::string& path);
    // The translation of `english` (compared ignoring case), or null when there is none.
    const std::string* FindTranslation(const std::string& english) const;

    std::map<int, size_t> m_NumberToIndex;
    std::map<std::string, std::pair<int, size_t>> m_TextToEntry;
    // The translation file's pairs: values[i] translates keys[i].
    std::vector<std::string> keys;
    std::vector<std::string> values;
    // false where the file gives no translation for keys[i].
    std::vector<bool> m_vbTranslated;
    bool m_bTranslationDisabled = false;
    std::string m_strLanguageKey;
    std::atomic<int> m_nLastFound{0};
};
