// Where the settings program finds the product: the registry root (the adapter's software
// key under HKEY_LOCAL_MACHINE, as the service reports it to the agent) and the
// installation folder named below it.
//
// The root is asked of the adapter service first, as the agent asks; without an answer
// (no adapter plugged in, no service) it is the key setup writes. A root given on the
// command line wins (for tests).
//
// Threads: no state; any thread.
#pragma once

#include <string>

constexpr const char* kDefaultRegistryRoot = "SOFTWARE\\Orvin\\VoipAdapter";

struct SettingsLocation {
    std::string root;          // below HKEY_LOCAL_MACHINE
    std::string installFolder; // SoftwareInstallationFolder, "" when missing

    std::string VoiceMailFolder() const; // <installation>\IVR\VoiceMail
    std::string IvrFolder() const;       // <installation>\IVR
};

SettingsLocation FindSettingsLocation(const std::string& givenRoot);
