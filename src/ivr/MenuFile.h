// CMenuBuilder: reads Menu.cfg, the voice menus of one language, and builds the tree of
// menu objects reachable from a root section.
//
// The file is <installation folder><WAV path>\Menu.cfg, read with the Windows profile
// functions (section and key names without regard to case). A menu section has the keys
//   Type              the kind (VoiceMenu.h, MessageMenus.h); "DEFAULT" when missing; an
//                     unknown kind builds nothing
//   SelectionTimeout  ms, 5000
//   Repeat            plays of the prompt before the timeout action, 3
//   Mask              the keys the menu handles itself, "0-9": "-" adds the characters
//                     between its neighbours, "," and " " only separate ("1-3,*": 1 2 3 *)
//   Prompt            a section whose lines are the prompt's WAV files, relative to the
//                     language folder, in playing order
//   SubMenus          a section of lines "key,section": the key is the last character
//                     before the comma that is not a space; lines without a comma are
//                     ignored; of two lines for one key the first counts
// Every value and section is read into 512 bytes; a Type, Prompt or SubMenus value of 511
// characters or a prompt or submenu section of 510 was cut and counts as absent. A missing
// file or section builds nothing.
//
// Submenus are built in key order, each from its own section, so a section reached by two
// keys becomes two menus. A submenu line naming "EnterAM" builds "EnterAMAlt" for a call from
// the VoIP side, and one naming "PhoneNumberCollect" builds "AttachLine" when the start
// request asked for line attach and AttachLineOnDCF is set. A section that is already on the
// path being built is not built again there (the file describes a cycle), and no build makes
// more than kMaxMenus menus or goes deeper than kMaxDepth; a submenu that builds nothing is
// left out.
//
// The caller writes the trace line of the root section it asks for
// ("CIvrStateMachine::CreateVoiceMenuFromFile: orvin_path = %s, section = %s"); the builder
// writes the same line for every submenu section it builds.
//
// Threads: used by the state machine's thread (or the one initializing it) only.
#pragma once

#include "ivr/IvrMenuHost.h"
#include "ivr/VoiceMenu.h"

#include <memory>
#include <string>
#include <vector>

class CMenuBuilder {
public:
    static constexpr int kMaxMenus = 1000;
    static constexpr size_t kMaxDepth = 32; // menus below one another
    static constexpr int kValueBytes = 512;

    explicit CMenuBuilder(IIvrMenuHost& host);

    // The menu of `section` with its whole tree, or nullptr when the section builds nothing.
    // The caller owns the menu (delete).
    CVoiceMenu* Build(const std::string& installationFolder, const std::string& section);
    // The same in two steps: the menu of `section` alone (its prompt can play at once), then
    // its submenus, read into it by CompleteTree. Between the two the builder is kept.
    CVoiceMenu* BuildRoot(const std::string& installationFolder, const std::string& section);
    void CompleteTree(CVoiceMenu* pRoot);
    // A reminder recording into reminderFolder: recording time VoiceMsgDuration seconds, the
    // prompt "beep.wav" from the language folder. The caller owns it.
    CVoiceMenu* BuildReminderMenu(const std::string& reminderFolder);
    // An information menu (timeout 5000, repeat 3, no keys) playing one file, which goes back
    // when it has played. The caller owns it.
    CVoiceMenu* BuildPlayFileMenu(const std::string& filePath);

    // The key set of a Mask value.
    static std::string ExpandMask(const std::string& mask);

private:
    std::unique_ptr<CVoiceMenu> BuildSection(const std::string& section);
    // The menu of the section with its own values and prompt, no submenus.
    std::unique_ptr<CVoiceMenu> BuildMenu(const std::string& section);
    std::unique_ptr<CVoiceMenu> CreateKind(const std::string& type, int nTimeoutMs);
    void ReadPrompt(CVoiceMenu& menu, const std::string& section);
    void ReadSubMenus(CVoiceMenu& menu, const std::string& section);
    // A value that fit in the buffer; false when it was cut.
    bool ReadValue(const std::string& section, const char* pszKey, const char* pszDefault,
                   std::string* pValue);
    // The lines of a section; false when it is missing, empty or was cut.
    bool ReadSectionLines(const std::string& section, std::vector<std::string>* pLines);
    std::string SubstituteSection(const std::string& section) const;
    bool IsOnPath(const std::string& section) const;

    IIvrMenuHost& m_Host;
    std::string m_InstallationFolder;
    std::string m_LanguageFolder; // installation folder + WAV path
    std::string m_File;
    std::vector<std::string> m_Path; // sections being built, root first
    std::string m_RootSection;       // of BuildRoot, for CompleteTree
    int m_nBuilt = 0;
};

// The same two menus for a state machine that is not built from Menu.cfg.
std::unique_ptr<CVoiceMenu> CreateSimplePlayFileMenu(IIvrMenuHost& host, const std::string& filePath);
std::unique_ptr<CVoiceMenu> CreateReminderRecordingMenu(IIvrMenuHost& host,
                                                        const std::string& reminderFolder);
