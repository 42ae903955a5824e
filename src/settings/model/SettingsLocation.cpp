#include "settings/model/SettingsLocation.h"

#include "base/config/Registry.h"
#include "devicelink/AdapterEnum.h"
#include "ivr/VoiceMailStore.h"

std::string SettingsLocation::VoiceMailFolder() const {
    return installFolder + kVoiceMailFolder;
}

std::string SettingsLocation::IvrFolder() const {
    return installFolder + "\\IVR";
}

SettingsLocation FindSettingsLocation(const std::string& givenRoot) {
    SettingsLocation location;
    location.root = givenRoot;
    if (location.root.empty()) {
        char root[kAdapterKeySize] = {};
        FindAdapterRegistryRoot(root, sizeof root);
        location.root = *root ? root : kDefaultRegistryRoot;
    }
    orvin::RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, location.root.c_str()) == ERROR_SUCCESS) {
        key.QueryString("SoftwareInstallationFolder", &location.installFolder, MAX_PATH);
    }
    while (!location.installFolder.empty() && location.installFolder.back() == '\\') {
        location.installFolder.pop_back();
    }
    return location;
}
