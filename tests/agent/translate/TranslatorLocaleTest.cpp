// The process's translator as the agent gets it: the system language from the locale
// this process was started with (CTest starts each suite with its own LANG), the registry
// root from a stand-in serving the adapter service's enumeration pipe, and the real
// Windows directory. Run with --gtest_filter=GermanSystem.*, ChineseSystem.* or
// EnglishSystem.* under the matching locale.
#include "base/translate/Translator.h"
#include "devicelink/AdapterEnum.h"
#include "TranslateTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>

using namespace translate_test;

namespace {

// Answers "\\.\pipe\VCORE\HWENUM" as the service does for one adapter: the count, then
// the adapter's software key.
class EnumerationStandIn {
public:
    explicit EnumerationStandIn(std::string key) : m_key(std::move(key)) {
        m_hStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_hIo = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_hPipe = Listen();
        m_thread = std::thread([this] { Serve(); });
    }
    ~EnumerationStandIn() {
        SetEvent(m_hStop);
        m_thread.join();
        CloseHandle(m_hStop);
        CloseHandle(m_hIo);
    }

private:
    static HANDLE Listen() {
        return CreateNamedPipeA("\\\\.\\pipe\\VCORE\\HWENUM", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    }
    // Starts or finishes one overlapped operation; false on failure or stop.
    bool Complete(BOOL started, OVERLAPPED& ov, DWORD* transferred) {
        if (!started && GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_PIPE_CONNECTED) {
            return false;
        }
        if (!started && GetLastError() == ERROR_PIPE_CONNECTED) {
            return true;
        }
        HANDLE waits[] = {m_hIo, m_hStop};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CancelIo(m_hPipe);
            GetOverlappedResult(m_hPipe, &ov, transferred, TRUE);
            return false;
        }
        return GetOverlappedResult(m_hPipe, &ov, transferred, FALSE) != FALSE;
    }
    void Serve() {
        while (m_hPipe != INVALID_HANDLE_VALUE && WaitForSingleObject(m_hStop, 0) != WAIT_OBJECT_0) {
            OVERLAPPED ov = {};
            ov.hEvent = m_hIo;
            ResetEvent(m_hIo);
            DWORD count = 0;
            if (Complete(ConnectNamedPipe(m_hPipe, &ov), ov, &count)) {
                while (Answer()) {
                }
            }
            DisconnectNamedPipe(m_hPipe);
        }
        if (m_hPipe != INVALID_HANDLE_VALUE) {
            CloseHandle(m_hPipe);
        }
    }
    bool Transfer(bool write, void* data, DWORD size) {
        for (DWORD done = 0; done < size;) {
            OVERLAPPED ov = {};
            ov.hEvent = m_hIo;
            ResetEvent(m_hIo);
            DWORD got = 0;
            BOOL started = write ? WriteFile(m_hPipe, (char*)data + done, size - done, nullptr, &ov)
                                 : ReadFile(m_hPipe, (char*)data + done, size - done, nullptr, &ov);
            if (!Complete(started, ov, &got) || !got) {
                return false;
            }
            done += got;
        }
        return true;
    }
    bool Answer() {
        uint32_t request[4];
        if (!Transfer(false, request, sizeof request)) {
            return false;
        }
        std::string reply(16, '\0');
        uint32_t header[4] = {16, 0, 0, 1};
        if (request[1] == 2) {
            reply += m_key + '\0';
            header[0] = uint32_t(reply.size());
            header[3] = uint32_t(m_key.size() + 1);
        }
        memcpy(&reply[0], header, sizeof header);
        return Transfer(true, &reply[0], DWORD(reply.size()));
    }

    std::string m_key;
    HANDLE m_hStop, m_hIo, m_hPipe;
    std::thread m_thread;
};

std::string WindowsFolder() {
    char path[MAX_PATH];
    GetWindowsDirectoryA(path, sizeof path);
    return path;
}

std::string Text(int number) {
    std::string text = "(no translator)";
    if (CTranslator* translator = CTranslator::GetInstance()) {
        translator->GetTranslatedString(number, text);
    }
    return text;
}

class SystemTranslator : public ::testing::Test {
protected:
    void ExpectSystem(const char* language, unsigned codePage) {
        char name[128] = {};
        GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE, name, sizeof name);
        ASSERT_EQ(std::string(name), language) << "the system language did not follow the locale (LANG)";
        ASSERT_EQ(GetACP(), codePage);
    }
    void SetUp() override {
        if (!Exists(TestCabinet("shipped.cab"))) {
            GTEST_SKIP() << "the test cabinets were not made (gcab missing at build time)";
        }
        // The root as the agent finds it: through the service's enumeration.
        CTranslator::SetRegistryRootFinder(FindAdapterRegistryRoot);
        // Nothing of an earlier run, and no file in the current directory.
        SetCurrentDirectoryA(m_current.Path().c_str());
        Clean();
    }
    void TearDown() override {
        CTranslator::DestroyInstance();
        Clean();
        SetCurrentDirectoryA(FolderOfThisProgram().c_str());
    }
    void Clean() {
        for (const char* name : {"zuvoip.lng", "zuvoiplng.cab", "German1252.txt", "Chinese936.txt"}) {
            DeleteFileA(Windows(name).c_str());
        }
    }
    void Install(const char* cabinet) {
        ASSERT_TRUE(CopyFileA(TestCabinet(cabinet).c_str(), m_install.File("zuvoiplng.cab").c_str(), FALSE));
        ASSERT_TRUE(m_root.SetText("", "SoftwareInstallationFolder", m_install.Path()));
    }
    static std::string Windows(const char* name) { return WindowsFolder() + "\\" + name; }

    TempFolder m_current{"system-current"}, m_install{"system-install"};
    TestRegistryRoot m_root;
};

using GermanSystem = SystemTranslator;
using ChineseSystem = SystemTranslator;
using EnglishSystem = SystemTranslator;

TEST_F(GermanSystem, TheServicesRootLeadsToTheInstalledGermanTexts) {
    ExpectSystem("German", 1252);
    Install("shipped.cab");
    EnumerationStandIn service(m_root.Path());
    CTranslator* translator = CTranslator::GetInstance();
    ASSERT_NE(translator, nullptr);
    EXPECT_EQ(CTranslator::GetInstance(), translator);
    EXPECT_EQ(translator->LanguageKey(), "German1252");
    EXPECT_EQ(Text(32), "B&eenden");
    EXPECT_EQ(Text(47), "Schlie\xDF"
                        "en");
    EXPECT_EQ(ReadBytes(Windows("zuvoip.lng")).substr(0, 24), "English1252=German1252\r\n");
    EXPECT_FALSE(Exists(Windows("German1252.txt")));
}

TEST_F(GermanSystem, AStaleFileIsReplacedAndAReadyOneKept) {
    ExpectSystem("German", 1252);
    Install("several.cab");
    WriteBytes(Windows("zuvoip.lng"), "English1252=Chinese936\r\nClose=Guanbi\r\n");
    {
        EnumerationStandIn service(m_root.Path());
        EXPECT_EQ(Text(47), "Zu (mehrteilig)");
    }
    CTranslator::DestroyInstance();
    // No service now, so no cabinet either: the file made last time serves.
    EXPECT_EQ(Text(68), "Ende");
}

TEST_F(GermanSystem, TheSwitchBelowTheServicesRootTurnsTranslationOff) {
    ExpectSystem("German", 1252);
    Install("shipped.cab");
    ASSERT_TRUE(m_root.SetDword("HostBasedModemData\\AdditionalService\\General", "DisableTranslation", 1));
    EnumerationStandIn service(m_root.Path());
    EXPECT_EQ(Text(32), "E&xit");
}

TEST_F(ChineseSystem, ItsOwnMemberOrEnglish) {
    ExpectSystem("Chinese (Simplified)", 936);
    Install("shipped.cab"); // German only
    {
        EnumerationStandIn service(m_root.Path());
        EXPECT_EQ(Text(47), "Close");
        EXPECT_EQ(CTranslator::GetInstance()->LanguageKey(), "Chinese936");
        EXPECT_FALSE(Exists(Windows("zuvoip.lng")));
        EXPECT_FALSE(Exists(Windows("Chinese936.txt")));
    }
    CTranslator::DestroyInstance();
    Install("several.cab");
    EnumerationStandIn service(m_root.Path());
    EXPECT_EQ(Text(47), "Guanbi");
}

TEST_F(EnglishSystem, NeverTouchesTheFileOrTheCabinet) {
    ExpectSystem("English", 1252);
    Install("shipped.cab");
    const std::string chinese = "English1252=Chinese936\r\nClose=Guanbi\r\n";
    WriteBytes(Windows("zuvoip.lng"), chinese);
    EnumerationStandIn service(m_root.Path());
    EXPECT_EQ(Text(47), "Close");
    EXPECT_EQ(CTranslator::GetInstance()->LanguageKey(), "");
    EXPECT_EQ(ReadBytes(Windows("zuvoip.lng")), chinese);
    EXPECT_FALSE(Exists(Windows("German1252.txt")));
}

TEST_F(EnglishSystem, ThreadsAskingAtOnceShareOneTranslator) {
    ExpectSystem("English", 1252);
    CTranslator* seen[4] = {};
    std::thread threads[4];
    for (int i = 0; i < 4; ++i) {
        threads[i] = std::thread([&seen, i] { seen[i] = CTranslator::GetInstance(); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ASSERT_NE(seen[0], nullptr);
    for (CTranslator* translator : seen) {
        EXPECT_EQ(translator, seen[0]);
    }
}

} // namespace
