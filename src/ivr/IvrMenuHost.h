// IIvrMenuHost: what a voice menu needs from the state machine that owns it. The state
// machine (CIvrStateMachine) implements it; the menu builder and every menu kind reach
// their conversation only through it, so menus can be driven by hand in tests.
//
// The menu path: PushMenu appends a menu (the new current menu), GoBack pops the current
// one (refused on the last menu and on the floor menu; the popped menu's prompt is
// stopped and the menu reset, and the new current menu is not replayed), PlayCurrentMenu
// plays the current menu. After a dispatch that changed the current menu, the state
// machine plays the new one itself.
//
// Reports: Report fills Info with the waiting-message count and Buffer1 word 0 with the
// IVR id, stops capturing and any recording, sends the record and writes the count to
// the registry; ReportKeepRecording does the same without stopping anything and without
// the registry write (a recording begins). A null record reports IVR_TERMINATE_REQUEST.
//
// Threads: every call comes from the state machine's own thread.
#pragma once

#include "devicelink/Imm.h"

#include <windows.h>

#include <string>
#include <vector>

class CVoiceMenu;
class CPlaylistSound;
class CPinGuard;

class IIvrMenuHost {
public:
    virtual ~IIvrMenuHost() = default;

    // The menu path.
    virtual void PushMenu(CVoiceMenu* pMenu) = 0;
    virtual bool GoBack() = 0;
    virtual CVoiceMenu* GetCurrentMenu() = 0;
    virtual void SetFloorMenu(CVoiceMenu* pMenu) = 0;
    virtual CVoiceMenu* GetGoodByeMenu() = 0;
    virtual void PlayCurrentMenu() = 0;

    // Reports to the service.
    virtual void Report(IMM* pReport) = 0;
    virtual void ReportKeepRecording(IMM* pReport) = 0;

    // Recording the captured audio to a WAV file (8000 Hz 16-bit mono).
    virtual HRESULT StartRecordingToFile(const char* pszPath) = 0;
    virtual void StopRecordingToFile() = 0;
    // Whether the last recording holds no message: shorter than VoiceMsgMinDurationSec (or
    // the whole recording time when that is shorter), or never louder than the line's
    // silence.
    virtual bool IsLastRecordingEmpty() const = 0;

    // The waiting voice messages: add one (not written), remove one (not below 0) or set
    // to 0; a removal or a reset is written to VoiceMessageWaiting at once.
    virtual void AddWaitingMessage() = 0;
    virtual void RemoveWaitingMessage() = 0;
    virtual void ResetWaitingMessages() = 0;
    virtual int GetWaitingMsgCount() const = 0;

    // The stream prompts play on, and the event it signals.
    virtual CPlaylistSound* GetStreamingSound() = 0;
    virtual HANDLE GetPlaybackEvent() = 0;

    // Settings of the conversation.
    virtual const std::string& GetInstallationFolder() const = 0;
    virtual const std::string& GetWavPath() const = 0; // "\IVR\" + language
    virtual const std::string& GetPin() const = 0;
    virtual int GetVoiceMsgDuration() const = 0;   // seconds
    virtual int GetAMGreetingDuration() const = 0; // seconds
    virtual int GetAMGreetingRecordOnPound() const = 0;
    virtual bool IsPstnCall() const = 0;            // false: the VoIP side
    virtual bool IsLineAttachRequested() const = 0; // the start request's flag
    virtual bool IsAttachLineOnDCF() const = 0;     // AttachLineOnDCF
    virtual bool IsAdminModeEnabled() const = 0;    // EnableAdminMode of the caller's side

    // PIN entries: the agent's judge of them across calls (none: each entry is compared on
    // its own), this conversation's key there, and whether the caller's keys go to a PIN
    // entry now (traces then show its digits as '*').
    virtual CPinGuard* GetPinGuard() = 0;
    virtual int GetConversationId() const = 0;
    virtual bool IsPinEntryActive() const = 0;
};

// For hosts: whether a PIN entry is on the menu path between the current menu and the floor
// menu (both included; the whole path without a floor), i.e. not yet passed with the right
// PIN. Keys pressed then are digits of a PIN.
bool IsPinEntryOnPath(const std::vector<CVoiceMenu*>& path, const CVoiceMenu* pFloor);
