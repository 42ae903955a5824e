// The softphone the telephone serves, as the selection record Config\General SoftPhoneType
// (base/config/SoftPhoneTypeRecord.h), and the choices the settings program offers: the
// softphones the agent has a client for, and none (the answering machine alone).
//
// Choosing writes the record setup writes: the availability bits kept, the chosen pair
// set, the check byte anew. The answering machine's second variant (type 9) is shown as
// the answering machine and stays as it is unless another choice is made.
//
// Threads: no state; any thread.
#pragma once

#include "base/config/SoftPhoneTypeRecord.h"

#include <string>
#include <vector>

class CRegistryChanges;

struct SoftphoneOption {
    int type;         // the record's index
    const char* name; // English
};

const std::vector<SoftphoneOption>& SoftphoneOptions();

class CSoftphoneSetting {
public:
    static constexpr int kAnsweringMachine = 8;
    static constexpr int kAnsweringMachineVariant = 9;

    // Reads the record below `root` (an unreadable one reads as selecting nothing).
    void Load(const std::string& root);
    // The type the record selects (11 when none or invalid).
    int SelectedType() const { return m_Record.SelectedIndex(); }
    // The option shown for the record: its position in SoftphoneOptions(), -1 when none.
    int SelectedOption() const;
    // Adds the record for option `option` when it differs from the selection; false when
    // nothing changes.
    bool Prepare(int option, CRegistryChanges& changes) const;
    const SoftPhoneTypeRecord& Record() const { return m_Record; }

private:
    std::string m_Key;
    SoftPhoneTypeRecord m_Record;
};
