#include "settings/model/SoftphoneSetting.h"

#include "base/config/Registry.h"
#include "settings/model/RegistryChanges.h"

const std::vector<SoftphoneOption>& SoftphoneOptions() {
    static const std::vector<SoftphoneOption> options = {
        {0, "Skype"},   {1, "QQ"},
        {2, "ThinkIt"}, {4, "EyeBeam"},
        {10, "TelTel"}, {CSoftphoneSetting::kAnsweringMachine, "No softphone: the answering machine alone"},
    };
    return options;
}

void CSoftphoneSetting::Load(const std::string& root) {
    m_Key = orvin::SubKey(root, "Config\\General");
    m_Record = SoftPhoneTypeRecord();
    orvin::RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, m_Key.c_str()) == ERROR_SUCCESS) {
        key.QueryBinary("SoftPhoneType", m_Record.bytes, sizeof m_Record.bytes);
    }
}

int CSoftphoneSetting::SelectedOption() const {
    int type = SelectedType();
    if (type == kAnsweringMachineVariant) {
        type = kAnsweringMachine;
    }
    const auto& options = SoftphoneOptions();
    for (size_t i = 0; i < options.size(); ++i) {
        if (options[i].type == type) {
            return (int)i;
        }
    }
    return -1;
}

bool CSoftphoneSetting::Prepare(int option, CRegistryChanges& changes) const {
    const auto& options = SoftphoneOptions();
    if (option < 0 || option >= (int)options.size() || option == SelectedOption()) {
        return false;
    }
    const SoftPhoneTypeRecord record = m_Record.Selecting(options[(size_t)option].type);
    changes.SetBinary(m_Key, "SoftPhoneType", record.bytes, sizeof record.bytes);
    return true;
}
