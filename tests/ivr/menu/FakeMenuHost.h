// A state machine stand-in for driving menus by hand: a real menu path (push, pop with the
// floor and last-menu rules, reset of the popped menu), the dispatch rule (current menu
// first, then down to the root; a changed current menu is played), reports kept as sent,
// real WAV recordings, and a real prompt stream over a hand-driven playback ring. A report
// that hands the call back stops the calls, as stopping the capture does.
//
// Also: a temporary installation folder removed with everything in it, and the trace file.
#pragma once

#include "audio/PlaylistSound.h"
#include "audio/RiffWave.h"
#include "base/trace/Trace.h"
#include "ivr/IvrMenuHost.h"
#include "ivr/MessageMenus.h"
#include "ivr/VoiceMenu.h"
#include "tests/audio/capture/FakeAudioBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = fd.cFileName, full = path + "\\" + name;
            if (name == "." || name == "..")
                continue;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

inline bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// 8000 Hz 16-bit mono samples, never silence.
inline bool MakeWav(const std::string& path, DWORD bytes) {
    std::vector<BYTE> data(bytes, 0x11);
    CRiffWave w;
    WAVEFORMATEX wfx = TelephonePcmFormat();
    UINT written = 0;
    return SUCCEEDED(w.Open(path.c_str(), &wfx, CRiffWave::kModeWrite)) &&
           SUCCEEDED(w.Write(bytes, data.data(), &written)) && SUCCEEDED(w.Close());
}

class FakeMenuHost : public IIvrMenuHost {
public:
    struct Sent {
        IMM record;
        bool bKeepRecording;
        int32_t Word(int i) const {
            int32_t v;
            std::memcpy(&v, record.Buffer1 + 4 * i, 4);
            return v;
        }
    };

    explicit FakeMenuHost(const std::string& installation)
        : install(installation), wavPath("\\IVR\\English"),
          ring(std::make_shared<FakeRingState>(CPlaylistSound::kBufferBytes, TelephonePcmFormat())) {
        event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        sound = std::make_unique<CPlaylistSound>(std::make_unique<FakeRing>(ring), event);
        sound->Initialize();
        sound->SetBackgroundFile(install + wavPath + "\\background.wav"); // none: plays silence
        goodBye = std::make_unique<ByeMenu>(*this, 5000);
    }
    ~FakeMenuHost() override {
        recorder.Close();
        sound.reset();
        CloseHandle(event);
    }

    // The state machine's side.
    void Start(CVoiceMenu* root) {
        PushMenu(root);
        PlayCurrentMenu();
    }
    void Dispatch(char key) {
        if (!capturing || path.empty())
            return;
        CVoiceMenu* before = path.back();
        const std::vector<CVoiceMenu*> below = path; // menus live on while popped
        for (auto it = below.rbegin(); it != below.rend(); ++it)
            if ((*it)->InterpretControl(key))
                break;
        if (!path.empty() && path.back() != before)
            PlayCurrentMenu();
    }
    void Keys(const std::string& keys) {
        for (char k : keys)
            Dispatch(k);
    }
    // 100 ms: a segment of the stream is played, then the capture side gives its tick.
    void Tick(int n = 1) {
        for (int i = 0; i < n; ++i) {
            ring->dwPrimary =
                (ring->dwPrimary + CPlaylistSound::kSegmentBytes) % CPlaylistSound::kBufferBytes;
            sound->HandleNotification();
            Dispatch(0);
        }
    }
    int Pushes(CVoiceMenu* m) const {
        int n = 0;
        for (CVoiceMenu* p : pushes)
            n += p == m;
        return n;
    }

    void PushMenu(CVoiceMenu* pMenu) override {
        path.push_back(pMenu);
        pushes.push_back(pMenu);
    }
    bool GoBack() override {
        if (path.size() <= 1 || path.back() == floor)
            return false;
        CVoiceMenu* popped = path.back();
        popped->StopPrompt();
        popped->Reset();
        path.pop_back();
        return true;
    }
    CVoiceMenu* GetCurrentMenu() override { return path.empty() ? nullptr : path.back(); }
    void SetFloorMenu(CVoiceMenu* pMenu) override { floor = pMenu; }
    CVoiceMenu* GetGoodByeMenu() override { return goodBye.get(); }
    void PlayCurrentMenu() override {
        if (!path.empty())
            path.back()->Play();
    }
    void Report(IMM* pReport) override {
        Keep(pReport, false);
        StopRecordingToFile();
        capturing = false;
    }
    void ReportKeepRecording(IMM* pReport) override { Keep(pReport, true); }
    HRESULT StartRecordingToFile(const char* pszPath) override {
        recordings.push_back(pszPath);
        WAVEFORMATEX wfx = TelephonePcmFormat();
        return recorder.Open(pszPath, &wfx, CRiffWave::kModeWrite);
    }
    void StopRecordingToFile() override {
        if (recorder.IsOpen())
            ++stops;
        recorder.Close();
    }
    bool IsLastRecordingEmpty() const override { return emptyRecording; }
    void AddWaitingMessage() override { ++waiting; }
    void RemoveWaitingMessage() override { waiting = waiting > 0 ? waiting - 1 : 0; }
    void ResetWaitingMessages() override { waiting = 0; }
    int GetWaitingMsgCount() const override { return waiting; }
    CPlaylistSound* GetStreamingSound() override { return sound.get(); }
    HANDLE GetPlaybackEvent() override { return event; }
    const std::string& GetInstallationFolder() const override { return install; }
    const std::string& GetWavPath() const override { return wavPath; }
    const std::string& GetPin() const override { return pin; }
    CPinGuard* GetPinGuard() override { return nullptr; }
    int GetConversationId() const override { return 1; }
    bool IsPinEntryActive() const override { return IsPinEntryOnPath(path, floor); }
    int GetVoiceMsgDuration() const override { return voiceMsgSec; }
    int GetAMGreetingDuration() const override { return greetingSec; }
    int GetAMGreetingRecordOnPound() const override { return recordOnPound; }
    bool IsPstnCall() const override { return pstn; }
    bool IsLineAttachRequested() const override { return lineAttach; }
    bool IsAttachLineOnDCF() const override { return attachOnDcf; }
    bool IsAdminModeEnabled() const override { return admin; }

    std::string install, wavPath, pin = "1234";
    int voiceMsgSec = 30, greetingSec = 10, recordOnPound = 0, waiting = 0;
    bool pstn = true, lineAttach = false, attachOnDcf = false, admin = false, emptyRecording = false;
    std::vector<CVoiceMenu*> path, pushes;
    CVoiceMenu* floor = nullptr;
    std::unique_ptr<CVoiceMenu> goodBye;
    std::vector<Sent> reports;
    std::vector<std::string> recordings;
    int stops = 0;
    bool capturing = true;
    std::shared_ptr<FakeRingState> ring;
    HANDLE event = nullptr;
    std::unique_ptr<CPlaylistSound> sound;
    CRiffWave recorder;

private:
    void Keep(IMM* pReport, bool bKeep) {
        pReport->Info = waiting;
        const int32_t id = 77;
        std::memcpy(pReport->Buffer1, &id, 4);
        reports.push_back({*pReport, bKeep});
    }
};

// A fresh installation folder with its language folder, the host on it, and the trace sent
// to a file (HKLM\Software\Velcora\Quendo, DebugType 3).
class MenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        char base[MAX_PATH];
        GetTempPathA(sizeof base, base);
        root = std::string(base) + "orvin-menu-" + std::to_string(GetCurrentProcessId());
        RemoveTree(root);
        CreateDirectoryA(root.c_str(), nullptr);
        CreateDirectoryA((root + "\\IVR").c_str(), nullptr);
        CreateDirectoryA((root + "\\IVR\\English").c_str(), nullptr);
        lang = root + "\\IVR\\English";
        host = std::make_unique<FakeMenuHost>(root);
        traceFile = std::string(base) + "orvin-menu-trace-" + std::to_string(GetCurrentProcessId()) + ".log";
        orvin::TraceStop();
        const DWORD type = 3;
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, "Software\\Velcora\\Quendo", "DebugType", REG_DWORD, &type, 4);
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, "Software\\Velcora\\Quendo", "DebugFile", REG_SZ,
                        traceFile.c_str(), static_cast<DWORD>(traceFile.size() + 1));
        orvin::TraceStart();
    }
    void TearDown() override {
        host.reset();
        orvin::TraceStop();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Velcora\\Quendo");
        DeleteFileA(traceFile.c_str());
        RemoveTree(root);
    }
    // Whether a line with exactly this message was traced.
    bool Traced(const std::string& message) {
        std::ifstream in(traceFile, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
                line.pop_back();
            if (line == "{OrvinAgent} " + message)
                return true;
        }
        return false;
    }
    std::string Missing() const { return lang + "\\missing.wav"; }

    std::string root, lang, traceFile;
    std::unique_ptr<FakeMenuHost> host;
};
