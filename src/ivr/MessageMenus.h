// The menus of the answering machine's files: recording a voice message, a greeting or a
// reminder, playing and deleting the voice messages, deleting and playing the greeting.
// They are CVoiceMenu kinds (VoiceMenu.h) and follow its dispatch rules: one call every
// 100 ms, a key or the tick 0.
//
// Files, all 8000 Hz 16-bit mono PCM as the capture side writes them:
//   voice messages  <installation>\IVR\VoiceMail\vm<Y><M><D><h><m><s>.wav
//   reminders       <reminder folder>\vr<Y><M><D><h><m><s>.wav
//   greeting        <installation>\IVR\<language>\UserAMGreeting.wav, recorded first into
//                   GreetingTmp.wav beside it
// The time stamp is the local time in plain decimal without leading zeros, so two moments
// can give the same name (11 January and 1 November, or two recordings in one second): an
// existing file is never overwritten, the new one gets "_2", "_3", ... before ".wav" and
// still matches vm*.wav or vr*.wav. A reminder folder that is empty means the current folder.
//
// Recording: the menu plays its prompt (a beep), and when the prompt has ended it creates
// the target folder with every missing parent, starts recording to the file through the
// host and reports that a recording began; it records for its recording time (the menu's
// timeout field) or until '#', stops, and at the next tick finishes: a voice message asks
// the service to end the call, a reminder reports IVR_MESSAGE_RECORDED, a greeting replaces
// the user's greeting and goes back. A folder that cannot be made or a recording that cannot
// start is traced; nothing is recorded and the menu finishes as if the recording had ended.
// A menu without a prompt starts recording at its first tick.
//
// A voice message that holds none (a caller who hung up at the tone: too short, or only the
// line's silence, IIvrMenuHost::IsLastRecordingEmpty) is deleted when its recording ends,
// by time, '#' or the end of the conversation, and the waiting-message count it added is
// taken back (written to VoiceMessageWaiting, and carried by the report that follows).
//
// Threads: every call comes from the state machine's thread.
#pragma once

#include "ivr/VoiceMenu.h"

#include <string>
#include <vector>

// Creates folder and every missing parent, outermost first. True when it exists afterwards
// (an empty name, the current folder, always does).
bool CreateFolderPath(const std::string& folder);
// The files (full paths) matching folder\pattern, in the file system's order. Only names that
// really end as the pattern does are taken (the system also matches short names).
std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern);

// "MSGREC": records a voice message into the voice-mail folder and counts it as waiting.
class RecordVoiceMsgMenu : public CVoiceMenu {
public:
    enum RecordState {
        kWaitPromptStart = 0,
        kWaitPromptEnd = 1,
        kRecording = 2,
        kRecordEnded = 3,
        kFinished = 4, // finished once; a reset starts over
    };

    RecordVoiceMsgMenu(IIvrMenuHost& host, int nRecordMs, const std::string& folder);
    // The conversation has ended (its recording is closed by then).
    ~RecordVoiceMsgMenu() override;

    void Reset() override;
    void Play() override;
    bool OnTick() override;
    bool OnPound() override;
    bool OnStar() override;
    bool OnKey(char key) override;
    // The file to record into (the folder is not made here).
    virtual std::string CreateTargetFileName();
    virtual void FinishRecording();

    int GetRecordState() const { return m_nRecState; }
    int GetRecordElapsed() const { return m_nRecElapsed; }
    const std::string& GetTargetFolder() const { return m_TargetFolder; }
    const std::string& GetTargetPath() const { return m_TargetPath; }

protected:
    RecordVoiceMsgMenu(IIvrMenuHost& host, int nRecordMs, const std::string& folder, bool bCountsMessage);
    virtual void ReportRecordingBegan();
    // The local time; tests give their own.
    virtual void GetTime(SYSTEMTIME* pTime);
    // folder\<prefix><time stamp>.wav, made unique.
    std::string MakeStampedName(const char* pszPrefix);
    void StartRecording();
    void StopRecording();
    // A voice message that holds none is deleted and no longer counts.
    void DropIfEmpty();

    int m_nRecState = kWaitPromptStart;
    int m_nRecElapsed = 0;
    std::string m_TargetFolder;
    bool m_bCountsMessage;
    std::string m_TargetPath;
    bool m_bRecorded = false; // a file was recorded since the last reset
};

// "GMREC": records the greeting into GreetingTmp.wav and, when the recording ends, moves it
// onto UserAMGreeting.wav. A recording cut short by the end of the conversation becomes the
// greeting when RecordGreetingOnPound is 0 and is discarded when it is set.
class RecordGreetingMenu : public RecordVoiceMsgMenu {
public:
    RecordGreetingMenu(IIvrMenuHost& host, int nRecordMs, const std::string& folder, bool bRecordOnPound);
    ~RecordGreetingMenu() override;

    std::string CreateTargetFileName() override;
    void FinishRecording() override;

    bool IsSaved() const { return m_bSaved; }
    std::string GetGreetingPath() const;

protected:
    void ReportRecordingBegan() override;

private:
    bool MoveOntoGreeting();

    bool m_bRecordOnPound;
    bool m_bSaved = false;
    bool m_bPending = false; // GreetingTmp.wav holds a recording not moved yet
};

// A reminder, recorded into the reminder folder; reports IVR_MESSAGE_RECORDING_BEGAN with
// the path and, at the end, IVR_MESSAGE_RECORDED.
class RecordReminderMsgMenu : public RecordVoiceMsgMenu {
public:
    RecordReminderMsgMenu(IIvrMenuHost& host, int nRecordMs, const std::string& folder);

    std::string CreateTargetFileName() override;
    void FinishRecording() override;

protected:
    void ReportRecordingBegan() override;
};

// "MSGPLAY": plays the voice messages one after another. After each message the submenu of
// key 'O' (the options, typically a child menu) is opened; '1' plays the message again, '2'
// deletes it, '3' goes on to the next, and the options' timeout goes on as well. With no
// message the submenu of key 'F' opens; after the last one the submenu of key 'E'. Without
// an 'O' submenu the keys still work but nothing moves on by itself.
class PlayVoiceMsgMenu : public CVoiceMenu {
public:
    enum PlayState {
        kListing = 0,
        kIntroduction = 1,
        kMessage = 2,
        kOptions = 3,
        kAllPlayed = 4,
        kLeaving = 5,
    };

    PlayVoiceMsgMenu(IIvrMenuHost& host, int nTimeoutMs, const std::string& folder);

    bool InterpretControl(char key) override;
    void Reset() override;
    void Play() override;

    int GetPlayState() const { return m_nPlayState; }
    const std::vector<std::string>& GetFiles() const { return m_Files; }
    size_t GetCursor() const { return m_uCursor; }

private:
    void HandleMessageKey(char key);
    void LeaveOptions();
    void NextMessageState();

    std::string m_Folder;
    std::vector<std::string> m_Files;
    size_t m_uCursor = 0;
    int m_nPlayState = kListing;
    int m_nOptionsElapsed = 0;
};

// "VMDELCONFIRM": asks whether to delete all messages. '1' and '2' (when in its key set)
// replace it by their submenus; with no message at all it is replaced at once by the
// submenu of key 'F'.
class VoiceMsgDeleteConfirmMenu : public CVoiceMenu {
public:
    VoiceMsgDeleteConfirmMenu(IIvrMenuHost& host, int nTimeoutMs, const std::string& folder,
                              const std::string& pattern);
    void Play() override;
    bool OnKey(char key) override;

private:
    std::string m_Folder;
    std::string m_Pattern;
};

// "DELALLVM" (pattern mode: every vm*.wav, then no message waits) and "DELGM" (single-file
// mode: the greeting). The deletion runs at the first call after a reset; the menu then
// takes every call and goes back once its prompt is not playing.
class DeleteFilesMenu : public CActionMenu {
public:
    DeleteFilesMenu(IIvrMenuHost& host, int nTimeoutMs, const std::string& filePath);
    DeleteFilesMenu(IIvrMenuHost& host, int nTimeoutMs, const std::string& folder,
                    const std::string& pattern);

    void Reset() override;
    void PerformAction() override;

    bool IsPatternMode() const { return m_bPatternMode; }

private:
    bool m_bPatternMode;
    std::string m_Path; // the file, or the folder
    std::string m_Pattern;
    std::vector<std::string> m_Found;
};

// "GMLISTEN": plays the greeting (its prompt when there is none), then goes back.
class GreetingListenMenu : public CVoiceMenu {
public:
    GreetingListenMenu(IIvrMenuHost& host, int nTimeoutMs, const std::string& greetingPath);
    bool InterpretControl(char key) override;
    void Play() override;

private:
    std::string m_GreetingPath;
};
