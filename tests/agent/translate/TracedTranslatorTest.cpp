// The trace lines the translator writes where it gives up on a piece of its input. The
// trace goes to a file of the test's own through the machine-wide trace key: these run
// alone.
#include "base/trace/Trace.h"
#include "base/translate/Translator.h"
#include "TranslateTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace translate_test;

namespace {

const char* const kTraceKey = "Software\\Velcora\\Quendo";

class TracedTranslatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Exists(TestCabinet("shipped.cab"))) {
            GTEST_SKIP() << "the test cabinets were not made (gcab missing at build time)";
        }
        const DWORD file = 3;
        const std::string path = m_trace.File("trace.log");
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugType", REG_DWORD, &file, sizeof file),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugFile", REG_SZ, path.c_str(),
                                  DWORD(path.size() + 1)),
                  ERROR_SUCCESS);
        orvin::TraceStop(); // the next line reads the key again
    }
    void TearDown() override {
        orvin::TraceStop();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTraceKey);
    }
    std::string Traced() {
        orvin::TraceStop();
        return ReadBytes(m_trace.File("trace.log"));
    }
    CTranslator::Environment Env() {
        CTranslator::Environment environment;
        environment.registryRoot = m_root.Path();
        environment.languageName = "German";
        environment.codePage = 1252;
        environment.windowsDirectory = m_windows.Path();
        environment.executableDirectory = m_program.Path();
        return environment;
    }

    TempFolder m_trace{"trace"}, m_windows{"traced-windows"}, m_install{"traced-install"},
        m_program{"traced-program"};
    TestRegistryRoot m_root;
};

TEST_F(TracedTranslatorTest, ACorruptCabinetIsTracedWithItsCabinetErrorText) {
    const std::string shipped = ReadBytes(TestCabinet("shipped.cab"));
    WriteBytes(m_install.File("zuvoiplng.cab"), shipped.substr(0, 200));
    ASSERT_TRUE(m_root.SetText("", "SoftwareInstallationFolder", m_install.Path()));
    WriteBytes(m_windows.File("zuvoiplng.cab"), "not a cabinet at all");
    CTranslator translator;
    translator.Load(Env());
    const std::string trace = Traced();
    EXPECT_NE(trace.find("PrepareLngFile>> Installation folder - " + m_install.Path() + "\n"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find(m_install.File("zuvoiplng.cab") + ": Corrupt cabinet"), std::string::npos) << trace;
    EXPECT_NE(trace.find(m_windows.File("zuvoiplng.cab") + ": Not a cabinet"), std::string::npos) << trace;
    std::string text;
    translator.GetTranslatedString(47, text);
    EXPECT_EQ(text, "Close");
}

TEST_F(TracedTranslatorTest, RefusedLinesAndValuesOfTheWrongType) {
    ASSERT_TRUE(m_root.SetText("HostBasedModemData\\AdditionalService\\General", "DisableTranslation", "1"));
    ASSERT_TRUE(m_root.SetDword("", "SoftwareInstallationFolder", 1));
    WriteBytes(m_windows.File("zuvoip.lng"),
               "English1252=German1252\r\nClose\r\nQuit=" + std::string(512, 'q'));
    CTranslator translator;
    translator.Load(Env());
    const std::string trace = Traced();
    EXPECT_NE(trace.find("DisableTranslation is not a DWORD"), std::string::npos) << trace;
    EXPECT_NE(trace.find("SoftwareInstallationFolder is not a text"), std::string::npos) << trace;
    EXPECT_NE(trace.find("PrepareLngFile>> Installation folder - \n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("line 2 refused: no \"=\" in line"), std::string::npos) << trace;
    EXPECT_NE(trace.find("line 3 refused: line too long"), std::string::npos) << trace;
}

} // namespace
