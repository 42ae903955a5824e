// The configuration block from the registry, and the softphone selection record.
#include "base/config/ConfigParams.h"
#include "tests/lib/ReadOnlyKey.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// A registry root of the test's own under HKEY_LOCAL_MACHINE, removed afterwards.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = "SOFTWARE\\OrvinTest\\Config" + std::to_string(GetCurrentProcessId());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_root.c_str());
    }
    void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_root.c_str()); }
    void Set(const char* sub, const char* name, DWORD type, const void* data, DWORD size) {
        const std::string key = *sub ? m_root + "\\" + sub : m_root;
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, type, data, size), ERROR_SUCCESS);
    }
    void SetDword(const char* sub, const char* name, DWORD value) { Set(sub, name, REG_DWORD, &value, 4); }
    void SetText(const char* sub, const char* name, const char* text) {
        Set(sub, name, REG_SZ, text, (DWORD)strlen(text) + 1);
    }
    void Load() { LoadRegistryParameters(m_root, &m_params, &m_settings); }

    std::string m_root;
    CConfigParams m_params;
    AgentRegistrySettings m_settings;
};

SoftPhoneTypeRecord Record(std::initializer_list<uint8_t> bytes) {
    SoftPhoneTypeRecord record;
    size_t i = 0;
    for (uint8_t b : bytes) {
        record.bytes[i++] = b;
    }
    return record;
}

TEST(SoftPhoneTypeRecordTest, CheckByteIsTheOneWireCrc8) {
    // "123456789" through the 1-Wire register (reflected 0x8C) started at 0xFF; started
    // at 0 it would give the catalogued CRC-8/MAXIM check value 0xA1.
    const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(SoftPhoneTypeRecord::Crc8(text, sizeof text), 0x0B);
    // Skype selected: word 0xC0000000, little-endian, its CRC, three zeros.
    const uint8_t word[] = {0x00, 0x00, 0x00, 0xC0};
    const uint8_t crc = SoftPhoneTypeRecord::Crc8(word, 4);
    SoftPhoneTypeRecord skype = Record({0x00, 0x00, 0x00, 0xC0, crc, 0, 0, 0});
    EXPECT_TRUE(skype.IsValid());
    EXPECT_EQ(skype.SelectedIndex(), 0);
    for (int i = 5; i < 8; ++i) {
        SoftPhoneTypeRecord spoilt = skype;
        spoilt.bytes[i] = 1;
        EXPECT_FALSE(spoilt.IsValid()) << "byte " << i;
        EXPECT_EQ(spoilt.SelectedIndex(), 11);
    }
    SoftPhoneTypeRecord wrongCrc = skype;
    wrongCrc.bytes[4] ^= 0x01;
    EXPECT_EQ(wrongCrc.SelectedIndex(), 11);
    EXPECT_EQ(SoftPhoneTypeRecord().SelectedIndex(), 11) << "all zero fails the check";
}

TEST(SoftPhoneTypeRecordTest, TheFirstPairWithBothBitsSetFromTheTopWins) {
    // Pairs 2 (bits 27-26) and 4 (bits 23-22): ThinkIt, index 2.
    const uint32_t word = 0x0C000000 | 0x00C00000;
    uint8_t bytes[4] = {(uint8_t)word, (uint8_t)(word >> 8), (uint8_t)(word >> 16), (uint8_t)(word >> 24)};
    SoftPhoneTypeRecord record =
        Record({bytes[0], bytes[1], bytes[2], bytes[3], SoftPhoneTypeRecord::Crc8(bytes, 4), 0, 0, 0});
    EXPECT_EQ(record.SelectedIndex(), 2);
    // Available bits alone select nothing; the answering machine is pair 8 (bits 15-14).
    EXPECT_EQ(SoftPhoneTypeRecord::Make(0x55555555, -1).SelectedIndex(), 11);
    SoftPhoneTypeRecord tam = SoftPhoneTypeRecord::Make(0xFFFFFFFF, 8);
    EXPECT_EQ(tam.SelectionWord(), 0x55555555u | 0x0000C000u) << "the other selections cleared";
    EXPECT_EQ(tam.SelectedIndex(), 8);
    EXPECT_EQ(SoftPhoneTypeRecord::Make(0, 10).SelectedIndex(), 10);
}

TEST_F(RegistryTest, ValuesReachTheBlockAndBadOnesKeepWhatWasThere) {
    SetText("", "ApplicationName", "OrvinAgent");
    SetText("Config\\General", "SendKey", "#");
    SetText("Config\\General", "MinSoftphoneVersion", "3.6.0.248");
    const SoftPhoneTypeRecord tam = SoftPhoneTypeRecord::Make(0, 9);
    Set("Config\\General", "SoftPhoneType", REG_BINARY, tam.bytes, 8);
    SetDword("Config\\UI", "Enable", 1);
    SetDword("Config\\UI", "SFWindowContol", 1);
    SetDword("Config\\IVR\\Pstn", "Mode", 5);
    SetDword("Config\\IVR", "DisableStandbyOnCFWActive", 0);
    SetDword("Config\\IVR", "VoiceMessageWaiting", 1);
    Load();
    EXPECT_EQ(m_settings.applicationName, "OrvinAgent");
    EXPECT_EQ(m_params.m_cSendKey, '#');
    EXPECT_EQ(m_params.m_nMinSoftphoneVersion[0], 3);
    EXPECT_EQ(m_params.m_nMinSoftphoneVersion[3], 248);
    EXPECT_EQ(m_settings.softPhoneType.SelectedIndex(), 9);
    EXPECT_EQ(m_params.m_nUiEnable, 1);
    EXPECT_EQ(m_params.m_nSoftphoneWindowControl, 1);
    EXPECT_EQ(m_params.m_nPstnIvrMode, 1) << "Mode 5 is on";
    EXPECT_EQ(m_params.m_nPstnIvrModeWorking, 1);
    EXPECT_EQ(m_params.m_nVoipIvrMode, 0);
    EXPECT_TRUE(m_params.IsCallForwardingActive());
    EXPECT_FALSE(m_params.IsPCStandbyOnCFWActiveDisabled());
    EXPECT_EQ(m_params.m_nVoiceMessageWaiting, 1);

    // Wrong values: each field keeps what it had.
    SetText("Config\\General", "SendKey", "x");
    SetText("Config\\General", "MinSoftphoneVersion", "3.x.1");
    Set("Config\\General", "SoftPhoneType", REG_BINARY, tam.bytes, 7);
    Load();
    EXPECT_EQ(m_settings.softPhoneType.SelectedIndex(), 9) << "a 7-byte record is not read";
    const uint64_t asNumber = 0;
    Set("Config\\General", "SoftPhoneType", REG_QWORD, &asNumber, 8);
    SetText("Config\\IVR\\Pstn", "Mode", "0");
    SetText("Config\\IVR", "DisableStandbyOnCFWActive", "1");
    Load();
    EXPECT_EQ(m_params.m_cSendKey, '#');
    EXPECT_EQ(m_params.m_nMinSoftphoneVersion[1], 6);
    EXPECT_EQ(m_settings.softPhoneType.SelectedIndex(), 9) << "eight bytes of another type are not read";
    EXPECT_EQ(m_params.m_nPstnIvrMode, 1) << "a Mode of the wrong type is not read";
    EXPECT_FALSE(m_params.IsPCStandbyOnCFWActiveDisabled());

    // Config\UI values are stored even when their query fails.
    SetText("Config\\UI", "Enable", "1");
    Load();
    EXPECT_EQ(m_params.m_nUiEnable, 0);
}

TEST_F(RegistryTest, EveryValueIsReadWhereTheKeysGrantOnlyReading) {
    // A user without administrator rights may read the configuration, never change it.
    SetText("", "ApplicationName", "OrvinAgent");
    SetText("Config\\General", "SendKey", "#");
    const SoftPhoneTypeRecord skype = SoftPhoneTypeRecord::Make(0, 0);
    Set("Config\\General", "SoftPhoneType", REG_BINARY, skype.bytes, 8);
    SetDword("Config\\UI", "Enable", 1);
    SetDword("Config\\IVR\\Pstn", "Mode", 1);
    SetDword("Config\\IVR\\Voip", "Mode", 1);
    SetDword("Config\\IVR", "DisableStandbyOnCFWActive", 0);
    SetDword("Config\\IVR", "VoiceMessageWaiting", 1);
    std::vector<std::unique_ptr<ReadOnlyKey>> readOnly;
    for (const char* sub : {"", "\\Config", "\\Config\\General", "\\Config\\UI", "\\Config\\IVR",
                            "\\Config\\IVR\\Pstn", "\\Config\\IVR\\Voip"}) {
        readOnly.push_back(std::make_unique<ReadOnlyKey>(m_root + sub));
        ASSERT_TRUE(readOnly.back()->Applied()) << sub;
    }
    HKEY key = nullptr;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, (m_root + "\\Config\\General").c_str(), 0, KEY_ALL_ACCESS, &key),
        ERROR_ACCESS_DENIED)
        << "the keys must refuse more than reading for this test to mean anything";

    Load();
    EXPECT_EQ(m_settings.applicationName, "OrvinAgent");
    EXPECT_EQ(m_params.m_cSendKey, '#');
    EXPECT_EQ(m_settings.softPhoneType.SelectedIndex(), 0) << "SoftPhoneType read: a client can be made";
    EXPECT_EQ(m_params.m_nUiEnable, 1);
    EXPECT_EQ(m_params.m_nPstnIvrMode, 1);
    EXPECT_EQ(m_params.m_nVoipIvrMode, 1);
    EXPECT_FALSE(m_params.IsPCStandbyOnCFWActiveDisabled());
    EXPECT_EQ(m_params.m_nVoiceMessageWaiting, 1);
}

TEST_F(RegistryTest, MissingKeysKeepTheDefaults) {
    Load();
    EXPECT_EQ(m_params.m_cSendKey, '*');
    EXPECT_EQ(m_params.m_nUiEnable, 0);
    EXPECT_TRUE(m_params.IsPCStandbyOnCFWActiveDisabled());
    EXPECT_FALSE(m_params.IsCallForwardingActive());
    EXPECT_EQ(m_settings.softPhoneType.SelectedIndex(), 11);
}

TEST(SoftphoneVersionTest, FourDecimalPartsAtMost) {
    int32_t version[4] = {9, 9, 9, 9};
    bool extra = true;
    ASSERT_TRUE(ParseSoftphoneVersion("2.5", version, &extra));
    EXPECT_EQ(version[0], 2);
    EXPECT_EQ(version[1], 5);
    EXPECT_EQ(version[2], 0) << "missing parts are 0";
    EXPECT_FALSE(extra);
    ASSERT_TRUE(ParseSoftphoneVersion("1.2.3.4.5.6", version, &extra));
    EXPECT_EQ(version[3], 4);
    EXPECT_TRUE(extra);
    for (const char* junk : {"", "a.b", "1..2", "1.2.", "-1.2", "1.2x", "99999999999.1", " 1.2"}) {
        int32_t kept[4] = {7, 7, 7, 7};
        EXPECT_FALSE(ParseSoftphoneVersion(junk, kept, nullptr)) << junk;
        EXPECT_EQ(kept[0], 7) << junk;
    }
}

} // namespace
