// CIvrStateMachine: one voice dialogue on the adapter's IVR audio. It plays the menus of a
// tree built from Menu.cfg on the adapter's IVR playback device, hears key tones on its
// capture device, records messages, and reports to the IVR manager, which forwards the
// reports to the service.
//
// It is a capture engine: the capture thread's body is the dialogue's thread procedure.
// That thread waits for the capture notification (every 10 ms of captured audio), the
// playback notification (a prompt segment has played: refill it) and the stop event.
// Each tenth of a second captured gives one dispatch down the menu path: the key
// detected in it, or 0, the menus' clock tick. The key detector listens ahead (CCapture):
// a key goes out as soon as the detector reports it, 20 ms after the caller let go, and
// its tenth gives no tick when it is complete. After a late wake-up the tenths waiting are
// taken one at a time, each dispatched before the next is taken, so timers keep pace and a
// recording stopped at some tick holds exactly the tenths counted up to it.
//
// A dialogue speaks first: Initialize reads the root menu alone (and the GoodBye menu),
// and Start plays the root's prompt before it reads the rest of the tree and starts the
// capture, since DirectSound (under Wine) queues silence from
// the moment its device opens. The first tenth captured is traced "Starting Playback".
//
// The menu path (CurrentMenuPath) holds the active menus, root first; the root menu owns
// the whole tree, the GoodBye menu is owned beside it. Menus reach the dialogue only
// through IIvrMenuHost.
//
// A report that hands the call back to the service (connect, terminate request, voice
// mail, reminder recorded) stops capturing: no further dispatches, only playback goes on
// until the manager destroys the dialogue.
//
// A capture that stops notifying (or never starts: the dialogue would wait for its first
// tenth, silent, for ever) is noticed after kCaptureSilenceMs without a capture
// notification: traced, and the capture restarted on a fresh buffer, the recording going
// on. A fresh buffer that stays silent for kRestartSilenceMs is replaced again, up to
// kMaxCaptureRestarts times; then the dialogue ends with its report (IVR_TERMINATE_REQUEST),
// so that the service can go on with the call. (Wine's capture over PulseAudio now and
// then leaves a started buffer standing at position 0 although it reports itself
// capturing; stopping and starting it again does not help, a fresh one mostly has, and
// once in a while only the next one did.)
//
// Threads: the manager's dispatcher thread constructs, initializes, starts and destroys
// it; everything else (menus, playback refills, capture reads, reports, registry writes)
// runs on its own thread. Destruction stops that thread and waits for it.
#pragma once

#include "audio/Capture.h"
#include "audio/PlaylistSound.h"
#include "audio/SoundManager.h"
#include "ivr/IvrMenuHost.h"
#include "ivr/MenuFile.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

// What a dialogue reports through: the IVR manager.
class IIvrReportSink {
public:
    virtual ~IIvrReportSink() = default;
    virtual void SendControlMsg(IMM* pMessage) = 0;
    // The judge of PIN entries across calls; none by default.
    virtual CPinGuard* GetPinGuard() { return nullptr; }
};

// The dialogue's three events. A base listed before the capture engine, so that they are
// still there while the capture engine's own destructor signals its notification event.
class CIvrEvents {
protected:
    CIvrEvents();
    ~CIvrEvents();
    HANDLE m_hCaptureEvent = nullptr;  // auto-reset: a tenth of a second captured
    HANDLE m_hPlaybackEvent = nullptr; // auto-reset: a playback segment has played
    HANDLE m_hStopEvent = nullptr;     // manual-reset: the thread ends
};

class CIvrStateMachine : private CIvrEvents, public CCapture, public IIvrMenuHost {
public:
    // How long a capturing dialogue waits for a capture notification before it restarts the
    // capture; how long it gives each fresh buffer (one notifies within 100 ms); how many
    // fresh buffers it tries before it gives up.
    static constexpr DWORD kCaptureSilenceMs = 2000;
    static constexpr DWORD kRestartSilenceMs = 1000;
    static constexpr int kMaxCaptureRestarts = 3;
    // A voice message shorter than this (VoiceMsgMinDurationSec) is none; and one whose
    // loudest 10 ms stay at or below kSilenceRms (about -48 dBFS) is the line's silence.
    static constexpr int kDefaultVoiceMsgMinDurationSec = 2;
    static constexpr DWORD kSilenceRms = 128;

    CIvrStateMachine(IIvrReportSink* pManager, int nIvrId, bool bPstn);
    ~CIvrStateMachine() override;

    // Registry parameters, language, devices, sound manager, capture base and stream.
    bool Initialize(HWND hWnd, const std::string& installationFolder, const std::string& registryRoot);
    // The same, then the menu tree from rootSection and the GoodBye menu.
    bool Initialize(HWND hWnd, const std::string& installationFolder, const std::string& rootSection,
                    const std::string& registryRoot, bool bLineAttach);
    // After Initialize: one information menu playing one file.
    bool InitializeSimplePlayFileMenu(const char* pszFile);
    // After Initialize: a reminder recorded into folder, after a beep.
    bool InitializeReminderRecording(const std::string& folder);
    // Plays the current menu (the first prompt, at once), reads the rest of the menu tree,
    // then starts the thread and capturing.
    HRESULT Start();

    CVoiceMenu* CreateVoiceMenuFromFile(const std::string& installationFolder, const std::string& section);

    // One key ('0'-'9', '*', '#', 'A'-'D') or the tick 0 down the menu path.
    void DispatchKey(char key);

    int GetIvrId() const { return m_nIvrId; }
    const std::vector<CVoiceMenu*>& GetMenuPath() const { return CurrentMenuPath; }
    const std::vector<std::string>& GetSupportedLanguages() const { return m_SupportedLangs; }
    const GUID& GetPlaybackDevice() const { return m_PlaybackDevice; }
    const GUID& GetCaptureDevice() const { return m_CaptureDevice; }

    // IIvrMenuHost
    void PushMenu(CVoiceMenu* pMenu) override;
    bool GoBack() override;
    CVoiceMenu* GetCurrentMenu() override;
    void SetFloorMenu(CVoiceMenu* pMenu) override { m_pFloorMenu = pMenu; }
    CVoiceMenu* GetGoodByeMenu() override { return m_pGoodByeMenu.get(); }
    void PlayCurrentMenu() override;
    void Report(IMM* pReport) override;
    void ReportKeepRecording(IMM* pReport) override;
    HRESULT StartRecordingToFile(const char* pszPath) override {
        return CCapture::StartRecordingToFile(pszPath);
    }
    void StopRecordingToFile() override { CCapture::StopRecordingToFile(); }
    bool IsLastRecordingEmpty() const override;
    void AddWaitingMessage() override;
    void RemoveWaitingMessage() override;
    void ResetWaitingMessages() override;
    int GetWaitingMsgCount() const override { return m_WaitingMsgCount; }
    CPlaylistSound* GetStreamingSound() override { return m_pStream.get(); }
    HANDLE GetPlaybackEvent() override { return m_hPlaybackEvent; }
    const std::string& GetInstallationFolder() const override { return m_InstallationFolder; }
    const std::string& GetWavPath() const override { return m_WavPath; }
    const std::string& GetPin() const override { return m_Pin; }
    int GetVoiceMsgDuration() const override { return m_VoiceMsgDuration; }
    int GetAMGreetingDuration() const override { return m_AMGreetingDuration; }
    int GetAMGreetingRecordOnPound() const override { return m_AMGreetingRecordOnPound; }
    bool IsPstnCall() const override { return m_bPstn; }
    bool IsLineAttachRequested() const override { return m_bLineAttach; }
    bool IsAttachLineOnDCF() const override { return m_AttachLineOnDCFToPstn; }
    bool IsAdminModeEnabled() const override;
    CPinGuard* GetPinGuard() override { return m_pManager ? m_pManager->GetPinGuard() : nullptr; }
    int GetConversationId() const override { return m_nIvrId; }
    bool IsPinEntryActive() const override { return IsPinEntryOnPath(CurrentMenuPath, m_pFloorMenu); }

protected:
    // The thread procedure (MyThreadProc).
    void ThreadBody() override;
    // The English name of the system's default language ("English", "German").
    virtual std::string GetSystemLanguageName();
    // The sound manager and the stream on the playback device, and the capture base on the
    // capture device, for hWnd. False (traced) when any of them can not be made.
    virtual bool OpenAudio(HWND hWnd);
    // The capture base and the stream on given devices (tests give hand-driven ones).
    bool OpenAudioOn(std::unique_ptr<ICaptureDevice> pCapture, std::unique_ptr<IPlaybackBuffer> pPlayback);

private:
    bool OpenStream(std::unique_ptr<CPlaylistSound> pStream);

    void GetRegParams();
    bool SetLanguage();
    DWORD GetDirectXVersion();
    void IdentifyIvrAudioDev();
    void IdentifyLegacyAudioDev();
    // Reads the submenus of the root menu, once (Initialize reads the root menu alone).
    void CompleteMenuTree();
    // The last of the digits heard (the detector's latest key), or the tick when none.
    void DispatchKeyHeard(const std::string& digits);
    void SendReport(IMM* pReport, bool bStopRecording);
    // The capture's watch, on the dialogue's thread: how long it may still wait for a capture
    // notification (INFINITE when not capturing), and what it does when none came in time.
    DWORD CaptureWaitMs() const;
    void WatchCapture();
    void WriteWaitingMsgCount();

    IIvrReportSink* m_pManager;
    const int m_nIvrId;
    const bool m_bPstn;
    bool m_bLineAttach = false;
    std::vector<CVoiceMenu*> CurrentMenuPath;
    CVoiceMenu* m_pFloorMenu = nullptr;
    std::unique_ptr<CVoiceMenu> m_pRootMenu;
    std::unique_ptr<CVoiceMenu> m_pGoodByeMenu;
    std::unique_ptr<CMenuBuilder> m_pTreeBuilder; // from Initialize until Start has read the tree
    std::unique_ptr<CSoundManager> m_pSoundManager;
    std::unique_ptr<CPlaylistSound> m_pStream;
    GUID m_PlaybackDevice{};
    GUID m_CaptureDevice{};
    DWORD m_dwDirectXVersion = 0;
    std::string m_RegistryRoot;
    std::string m_InstallationFolder;
    std::string m_WavPath;
    std::vector<std::string> m_SupportedLangs;
    std::string m_UserDefinedLang;
    std::string m_Pin;
    int m_WaitingMsgCount = 0;
    int m_WrittenMsgCount = 0; // what VoiceMessageWaiting holds, as far as we know
    int m_VoiceMsgDuration = 0;
    int m_VoiceMsgMinDuration = kDefaultVoiceMsgMinDurationSec;
    int m_AMGreetingDuration = 0;
    int m_AMGreetingRecordOnPound = 0;
    int m_PstnEnableAdminMode = 0;
    int m_VoipEnableAdminMode = 0;
    bool m_AttachLineOnDCFToPstn = false;
    bool m_bPlaybackStarted = false;
    bool m_bCapturing = false;       // cleared by a report that hands the call back
    ULONGLONG m_ullCaptureHeard = 0; // start of the capture, or its last notification
    int m_nCaptureRestarts = 0;      // fresh buffers started since the last notification
    std::atomic<bool> m_bExit{false};
};
