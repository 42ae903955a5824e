// CVoiceMenu: one menu of an IVR conversation, and the kinds that navigate, check the PIN,
// collect a phone number and steer forwarding. Menu.cfg names each menu's kind (CMenuBuilder,
// MenuFile.h); the kinds that record, play and delete message files are in MessageMenus.h.
//
// A menu is driven by its state machine's dispatcher, once for every 100 ms of captured
// audio: InterpretControl gets either a key ('0'-'9', '*', '#', 'A'-'D') or 0, the clock
// tick. A menu answers whether it took the call; a call it does not take is offered to the
// menu below it on the menu path, down to the root. When the current menu has changed during
// a dispatch, the state machine plays the new one, so a menu that pushes or pops during a
// dispatch never plays the new current menu itself; a menu that changes the path inside Play
// (which is not a dispatch) does.
//
// Timing: while the menu's prompt plays, no time is counted; afterwards every tick adds
// 100 ms to the elapsed time, and when it equals the timeout the prompt is played again, up
// to `repeat` plays in all, after which OnTimeout runs (the GoodBye menu, for the base). A
// timeout that is not a multiple of 100 never expires. "Playing" is the state of the shared
// stream (CPrompt::IsPlaying): a menu without a prompt counts as finished.
//
// Ownership: a menu owns its prompt and its submenus, so the root menu owns the whole tree.
// The host (the state machine) is not owned; every report, path change and recording goes
// through it.
//
// Threads: every call comes from the state machine's thread.
#pragma once

#include "audio/Prompt.h"
#include "ivr/IvrMenuHost.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

class CVoiceMenu {
public:
    static constexpr int kDefaultTimeoutMs = 5000;
    static constexpr int kDefaultRepeat = 3;
    static constexpr int kTickMs = 100;

    CVoiceMenu(IIvrMenuHost& host, int nTimeoutMs);
    virtual ~CVoiceMenu();
    CVoiceMenu(const CVoiceMenu&) = delete;
    CVoiceMenu& operator=(const CVoiceMenu&) = delete;

    // The operations, in their fixed order. key 0 is the tick.
    virtual bool InterpretControl(char key);
    virtual void Reset();
    virtual void Play();
    virtual bool OnTick();
    virtual bool OnPound();
    virtual bool OnStar();
    virtual bool OnKey(char key);
    virtual void ResetTimer();
    virtual void OnTimeout();
    virtual void OnReplay(int nPlayCount);

    // Set up by the builder.
    void SetRepeat(int nRepeat) { m_nRepeat = nRepeat; }
    void SetKeySet(const std::string& keys) { m_KeySet = keys; }
    // Appends a file (full path) to the prompt, creating the prompt bound to the host's
    // stream if the menu has none yet. False when the prompt refuses the name.
    bool AddPromptFile(const std::string& path);
    // Takes ownership; a menu already under the key stays and the new one is destroyed.
    void AddSubMenu(char key, std::unique_ptr<CVoiceMenu> pMenu);

    // Switches the stream to the background sound if this menu has a prompt.
    void StopPrompt();

    int GetTimeout() const { return m_nTimeout; }
    int GetElapsed() const { return m_nElapsed; }
    int GetRepeat() const { return m_nRepeat; }
    int GetPlayCount() const { return m_nPlayCount; }
    const std::string& GetKeySet() const { return m_KeySet; }
    CPrompt* GetPrompt() const { return m_pPrompt.get(); }
    CVoiceMenu* GetSubMenu(char key) const;
    const std::map<char, std::unique_ptr<CVoiceMenu>>& GetSubMenus() const { return m_SubMenus; }

protected:
    bool IsPromptPlaying() const;
    bool IsCurrent() { return m_pHost->GetCurrentMenu() == this; }
    bool InKeySet(char key) const { return m_KeySet.find(key) != std::string::npos; }
    // The submenu of an upper-case key, else of its lower-case form.
    CVoiceMenu* FindSubMenu(char upperKey) const;
    // Pushes pMenu unless it is missing or already current; true when pushed.
    bool PushIfNotCurrent(CVoiceMenu* pMenu);
    // Plays one file outside the prompt's list (the prompt is made if needed).
    void PlayFile(const std::string& path);
    // A report of the IVR: Type MSG_TYPE_IVR_EVENT, the code, Buffer1 word 1 = parameter.
    static IMM MakeReport(int32_t nCode, int32_t nParameter);

    int m_nTimeout;
    int m_nElapsed = 0;
    int m_nRepeat = kDefaultRepeat;
    int m_nPlayCount = 1;
    std::string m_KeySet;
    std::unique_ptr<CPrompt> m_pPrompt;
    std::map<char, std::unique_ptr<CVoiceMenu>> m_SubMenus;
    IIvrMenuHost* m_pHost; // the state machine, not owned

private:
    CPrompt* EnsurePrompt();
};

// "INFO": plays its prompt, then goes back. Takes every call, so keys pressed while it plays
// are swallowed.
class InfoMenu : public CVoiceMenu {
public:
    using CVoiceMenu::CVoiceMenu;
    bool InterpretControl(char key) override;
};

// "CHILD": plays its prompt over the menu below it. Keys always go down; ticks are taken
// while the prompt plays and go down afterwards, so the menu below counts its own time.
class ChildMenu : public CVoiceMenu {
public:
    using CVoiceMenu::CVoiceMenu;
    bool InterpretControl(char key) override;
};

// "BYE": after its prompt, asks the service to end the call (IVR_TERMINATE_REQUEST), once
// per entry. Takes every call.
class ByeMenu : public CVoiceMenu {
public:
    using CVoiceMenu::CVoiceMenu;
    bool InterpretControl(char key) override;
    void Reset() override;

private:
    bool m_bReported = false;
};

// "PINCODE": collects up to 8 digits; '*' ends the entry. The right PIN opens the submenu of
// key 'S' and makes it the floor of the path, so the entry cannot be reached again by going
// back. A wrong entry (or a ninth digit) opens the submenu of key 'F'; the third wrong entry
// of the conversation opens the GoodBye menu. The failure count lasts for the menu's life.
// A child menu above it (typically the 'F' message) is removed when a key arrives or when it
// has played and passes the ticks down. Entries are judged by the host's PIN guard
// (PinGuard.h), which refuses every entry while no PIN of 4 to 8 digits is set or a
// lock-out lasts; a refused entry is a wrong one to the caller. The trace shows the
// collected digits as '*'.
class PinNumberMenu : public CVoiceMenu {
public:
    static constexpr size_t kMaxDigits = 8;
    static constexpr int kMaxFailures = 3;

    PinNumberMenu(IIvrMenuHost& host, int nTimeoutMs);
    void Reset() override;
    bool OnTick() override;
    bool OnStar() override;
    bool OnKey(char key) override;
    void OnReplay(int nPlayCount) override;

    const std::string& GetCollected() const { return m_Collected; }
    int GetFailures() const { return m_nFailures; }

private:
    bool IsRightPin(const std::string& entered);
    void Failure();

    std::string m_Collected;
    std::string m_Pin;
    int m_nFailures = 0;
};

// "PHONENBR": collects digits (no limit) until '*', then asks the service to connect the
// call to the number (IVR_CM_CONNECT_TO, parameter 1, its first 20 characters in Buffer1
// bytes 8 to 27). '#' and 'A'-'D' are ignored; every call is taken.
class PhoneNumberMenu : public CVoiceMenu {
public:
    static constexpr size_t kReportedDigits = 20;

    using CVoiceMenu::CVoiceMenu;
    bool InterpretControl(char key) override;
    void Reset() override;
    void OnReplay(int nPlayCount) override;

    const std::string& GetNumber() const { return m_Number; }

private:
    std::string m_Number;
};

// "CALLFWD": keys of its key set lead to submenus, which become the floor of the path, only
// when admin keys are allowed for the caller's side ('*' included); otherwise keys go down.
// On timeout it asks the service to forward the call (IVR_CM_CONNECT_TO, parameter 1, no
// number), goes back and resets.
class CallForwardMenu : public CVoiceMenu {
public:
    CallForwardMenu(IIvrMenuHost& host, int nTimeoutMs, bool bAdminKeys);
    bool OnStar() override;
    bool OnKey(char key) override;
    void OnTimeout() override;

    bool AdminKeysAllowed() const { return m_bAdminKeys; }

protected:
    bool m_bAdminKeys;
};

// "AMGREET": plays the user's greeting (its prompt when there is none) and, on timeout, the
// submenu of key 'T' (typically the message recording). Keys as the call-forward menu.
class AMGreetingMenu : public CallForwardMenu {
public:
    AMGreetingMenu(IIvrMenuHost& host, int nTimeoutMs, bool bAdminKeys, const std::string& greetingPath);
    void Play() override;
    void OnTimeout() override;

    const std::string& GetGreetingPath() const { return m_GreetingPath; }

private:
    std::string m_GreetingPath;
};

// A menu that performs one action: at the first call after a Reset it runs PerformAction
// once; from then on it goes back whenever its prompt is not playing. Takes every call.
class CActionMenu : public CVoiceMenu {
public:
    using CVoiceMenu::CVoiceMenu;
    bool InterpretControl(char key) override;
    void Reset() override;
    virtual void PerformAction() = 0;

private:
    bool m_bDone = false;
};

// "SPMAIL": on entering, hands the call to the softphone's voice mail (IVR_CM_GOTO_VOICE_MAIL,
// parameter 8); goes back whenever its prompt is not playing. Takes every call.
class SoftphoneVoiceMailMenu : public CActionMenu {
public:
    using CActionMenu::CActionMenu;
    void PerformAction() override;
};

// "LINEATTACH": once its prompt has played, asks the service to attach the line
// (IVR_CM_CONNECT_TO, parameter 7). Takes every call.
class LineAttachMenu : public CVoiceMenu {
public:
    using CVoiceMenu::CVoiceMenu;
    bool InterpretControl(char key) override;
    void Reset() override;
    virtual void PerformAction();

private:
    bool m_bDone = false;
};

// Whether a file can be opened as a WAV file for reading.
bool IsReadableWave(const std::string& path);
