#include "ivr/MessageMenus.h"

#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"

#include <cstdio>
#include <cstring>

namespace {

bool IsFolder(const std::string& path) {
    const DWORD dwAttributes = GetFileAttributesA(path.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool EndsWithNoCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && _stricmp(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "\\" + name;
}

} // namespace

bool CreateFolderPath(const std::string& folder) {
    if (folder.empty())
        return true;
    for (size_t pos = 1; pos <= folder.size(); ++pos) {
        if (pos < folder.size() && folder[pos] != '\\' && folder[pos] != '/')
            continue;
        const std::string part = folder.substr(0, pos);
        // Drive names and the share of a network path cannot be made; what matters is the end.
        if (part.back() != ':' && !IsFolder(part))
            CreateDirectoryA(part.c_str(), nullptr);
    }
    return IsFolder(folder);
}

std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> files;
    const size_t star = pattern.rfind('*');
    const std::string ending = star == std::string::npos ? pattern : pattern.substr(star + 1);
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(Join(folder, pattern).c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return files;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && EndsWithNoCase(data.cFileName, ending))
            files.push_back(Join(folder, data.cFileName));
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
    return files;
}

// ---------------------------------------------------------------------------------------

RecordVoiceMsgMenu::RecordVoiceMsgMenu(IIvrMenuHost& host, int nRecordMs, const std::string& folder)
    : RecordVoiceMsgMenu(host, nRecordMs, folder, true) {}

RecordVoiceMsgMenu::RecordVoiceMsgMenu(IIvrMenuHost& host, int nRecordMs, const std::string& folder,
                                       bool bCountsMessage)
    : CVoiceMenu(host, nRecordMs), m_TargetFolder(folder), m_bCountsMessage(bCountsMessage) {}

RecordVoiceMsgMenu::~RecordVoiceMsgMenu() {
    if (m_nRecState == kRecording)
        DropIfEmpty();
}

void RecordVoiceMsgMenu::Reset() {
    // Popped while recording: the file is closed, not left growing.
    if (m_nRecState == kRecording) {
        m_pHost->StopRecordingToFile();
        DropIfEmpty();
    }
    CVoiceMenu::Reset();
    m_nRecState = kWaitPromptStart;
    m_nRecElapsed = 0;
}

// The prompt has been started: from here on, its end starts the recording. (Waiting to see
// it playing at a tick would miss a prompt that ends before the first tick.)
void RecordVoiceMsgMenu::Play() {
    CVoiceMenu::Play();
    if (m_nRecState == kWaitPromptStart)
        m_nRecState = kWaitPromptEnd;
}

bool RecordVoiceMsgMenu::OnTick() {
    switch (m_nRecState) {
    case kWaitPromptStart:
        if (!m_pPrompt)
            StartRecording();
        else if (IsPromptPlaying())
            m_nRecState = kWaitPromptEnd;
        break;
    case kWaitPromptEnd:
        if (!IsPromptPlaying())
            StartRecording();
        break;
    case kRecording:
        m_nRecElapsed += kTickMs;
        if (m_nRecElapsed > m_nTimeout)
            StopRecording();
        break;
    case kRecordEnded:
        m_nRecState = kFinished;
        FinishRecording();
        break;
    default:
        break;
    }
    return true;
}

bool RecordVoiceMsgMenu::OnPound() {
    if (m_nRecState == kRecording)
        StopRecording();
    return true;
}

bool RecordVoiceMsgMenu::OnStar() {
    return true;
}

bool RecordVoiceMsgMenu::OnKey(char) {
    return true;
}

std::string RecordVoiceMsgMenu::CreateTargetFileName() {
    return MakeStampedName("vm");
}

void RecordVoiceMsgMenu::FinishRecording() {
    IMM report = MakeReport(IVR_TERMINATE_REQUEST, 0);
    m_pHost->Report(&report);
}

void RecordVoiceMsgMenu::ReportRecordingBegan() {
    IMM report = MakeReport(IVR_SET_TIMEOUT_FOR_LEAVE_MESSAGE_MODE, 8);
    m_pHost->ReportKeepRecording(&report);
}

void RecordVoiceMsgMenu::GetTime(SYSTEMTIME* pTime) {
    GetLocalTime(pTime);
}

std::string RecordVoiceMsgMenu::MakeStampedName(const char* pszPrefix) {
    SYSTEMTIME t{};
    GetTime(&t);
    char szName[64];
    std::snprintf(szName, sizeof szName, "%s%d%d%d%d%d%d", pszPrefix, t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    const std::string base = Join(m_TargetFolder, szName);
    std::string path = base + ".wav";
    for (int n = 2; Exists(path) && n < 100000; ++n)
        path = base + "_" + std::to_string(n) + ".wav";
    return path;
}

void RecordVoiceMsgMenu::StartRecording() {
    m_TargetPath = CreateTargetFileName();
    if (!CreateFolderPath(m_TargetFolder)) {
        TRACE("RecordVoiceMsgMenu: cannot create the folder %s (err = %lu), nothing is recorded",
              m_TargetFolder.c_str(), GetLastError());
        m_nRecState = kRecordEnded;
        return;
    }
    const HRESULT hr = m_pHost->StartRecordingToFile(m_TargetPath.c_str());
    if (FAILED(hr)) {
        TRACE("RecordVoiceMsgMenu: StartRecordingToFile(%s) failed err = 0x%x, nothing is recorded",
              m_TargetPath.c_str(), static_cast<unsigned>(hr));
        m_nRecState = kRecordEnded;
        return;
    }
    if (m_bCountsMessage)
        m_pHost->AddWaitingMessage();
    ReportRecordingBegan();
    m_nRecElapsed = 0;
    m_nRecState = kRecording;
}

void RecordVoiceMsgMenu::StopRecording() {
    m_pHost->StopRecordingToFile();
    DropIfEmpty();
    m_nRecState = kRecordEnded;
}

void RecordVoiceMsgMenu::DropIfEmpty() {
    if (!m_bCountsMessage || !m_pHost->IsLastRecordingEmpty())
        return;
    TRACE("RecordVoiceMsgMenu: the voice message %s holds no message (too short or silent): deleted",
          m_TargetPath.c_str());
    if (!DeleteFileA(m_TargetPath.c_str())) {
        TRACE("Cannot delete file %s", m_TargetPath.c_str());
        return;
    }
    m_pHost->RemoveWaitingMessage();
}

// ---------------------------------------------------------------------------------------

RecordGreetingMenu::RecordGreetingMenu(IIvrMenuHost& host, int nRecordMs, const std::string& folder,
                                       bool bRecordOnPound)
    : RecordVoiceMsgMenu(host, nRecordMs, folder, false), m_bRecordOnPound(bRecordOnPound) {}

// The conversation has ended (the recording file is closed by then).
RecordGreetingMenu::~RecordGreetingMenu() {
    if (!m_bPending)
        return;
    if (!m_bRecordOnPound)
        MoveOntoGreeting();
    if (m_bPending && !DeleteFileA(m_TargetPath.c_str()))
        TRACE("Cannot delete file %s", m_TargetPath.c_str());
}

std::string RecordGreetingMenu::CreateTargetFileName() {
    return Join(m_TargetFolder, "GreetingTmp.wav");
}

std::string RecordGreetingMenu::GetGreetingPath() const {
    return Join(m_TargetFolder, "UserAMGreeting.wav");
}

void RecordGreetingMenu::FinishRecording() {
    if (m_bPending)
        MoveOntoGreeting();
    m_pHost->GoBack();
}

void RecordGreetingMenu::ReportRecordingBegan() {
    m_bPending = true;
    RecordVoiceMsgMenu::ReportRecordingBegan();
}

bool RecordGreetingMenu::MoveOntoGreeting() {
    const std::string greeting = GetGreetingPath();
    if (MoveFileExA(m_TargetPath.c_str(), greeting.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        m_bSaved = true;
        m_bPending = false;
        return true;
    }
    TRACE("Cannot move(rename) file %s to %s", m_TargetPath.c_str(), greeting.c_str());
    return false;
}

RecordReminderMsgMenu::RecordReminderMsgMenu(IIvrMenuHost& host, int nRecordMs, const std::string& folder)
    : RecordVoiceMsgMenu(host, nRecordMs, folder, false) {}

std::string RecordReminderMsgMenu::CreateTargetFileName() {
    return MakeStampedName("vr");
}

void RecordReminderMsgMenu::ReportRecordingBegan() {
    TRACE("RecordReminderMsgMenu::CreateTargetFileName: Sending IVR_MESSAGE_RECORDING_BEGAN %s",
          m_TargetPath.c_str());
    IMM report = MakeReport(IVR_MESSAGE_RECORDING_BEGAN, 8);
    std::strncpy(report.Payload, m_TargetPath.c_str(), sizeof report.Payload - 1);
    m_pHost->ReportKeepRecording(&report);
}

void RecordReminderMsgMenu::FinishRecording() {
    IMM report = MakeReport(IVR_MESSAGE_RECORDED, 0);
    m_pHost->Report(&report);
}

// ---------------------------------------------------------------------------------------

PlayVoiceMsgMenu::PlayVoiceMsgMenu(IIvrMenuHost& host, int nTimeoutMs, const std::string& folder)
    : CVoiceMenu(host, nTimeoutMs), m_Folder(folder) {}

void PlayVoiceMsgMenu::Reset() {
    CVoiceMenu::Reset();
    m_nPlayState = kListing;
    m_nOptionsElapsed = 0;
    m_Files.clear();
    m_uCursor = 0;
}

void PlayVoiceMsgMenu::Play() {
    if (m_nPlayState != kListing)
        return;
    m_Files = ListFiles(m_Folder, "vm*.wav");
    m_uCursor = 0;
    if (!m_Files.empty()) {
        // The introduction; its end starts the first message.
        CVoiceMenu::Play();
        m_nPlayState = kIntroduction;
        return;
    }
    m_nPlayState = kLeaving;
    if (PushIfNotCurrent(FindSubMenu('F')))
        m_pHost->PlayCurrentMenu();
}

bool PlayVoiceMsgMenu::InterpretControl(char key) {
    if (key == '*') {
        StopPrompt();
        return OnStar();
    }
    const bool bMessageKey = key == '1' || key == '2' || key == '3';
    switch (m_nPlayState) {
    case kListing:
        if (IsPromptPlaying())
            m_nPlayState = kIntroduction;
        break;
    case kIntroduction:
        if (IsPromptPlaying())
            break;
        if (m_uCursor < m_Files.size()) {
            TRACE("PlayVoiceMsgMenu: playing voice message %s", m_Files[m_uCursor].c_str());
            PlayFile(m_Files[m_uCursor]);
            m_nPlayState = kMessage;
        } else {
            m_nPlayState = kAllPlayed;
        }
        break;
    case kMessage:
        if (bMessageKey) {
            StopPrompt();
            HandleMessageKey(key);
            NextMessageState();
        } else if (!IsPromptPlaying()) {
            CVoiceMenu* pOptions = FindSubMenu('O');
            if (pOptions != nullptr) {
                m_nPlayState = kOptions;
                m_nOptionsElapsed = 0;
                PushIfNotCurrent(pOptions);
            }
        }
        break;
    case kOptions:
        if (key == 0) {
            m_nOptionsElapsed += kTickMs;
            CVoiceMenu* pOptions = FindSubMenu('O');
            if (pOptions == nullptr || m_nOptionsElapsed >= pOptions->GetTimeout()) {
                ++m_uCursor;
                LeaveOptions();
                NextMessageState();
            }
        } else if (bMessageKey) {
            LeaveOptions();
            HandleMessageKey(key);
            NextMessageState();
        }
        break;
    case kAllPlayed: {
        m_nPlayState = kLeaving;
        CVoiceMenu* pEnd = FindSubMenu('E');
        if (pEnd != nullptr && m_pHost->GetCurrentMenu() != pEnd) {
            StopPrompt();
            m_pHost->PushMenu(pEnd);
        }
        break;
    }
    case kLeaving:
        if (!m_pHost->GoBack()) {
            PushIfNotCurrent(m_pHost->GetGoodByeMenu());
            Reset();
        }
        break;
    default:
        break;
    }
    return true;
}

// The options menu goes; it may have gone already (its own '*').
void PlayVoiceMsgMenu::LeaveOptions() {
    CVoiceMenu* pOptions = FindSubMenu('O');
    if (pOptions != nullptr && m_pHost->GetCurrentMenu() == pOptions) {
        pOptions->StopPrompt();
        m_pHost->GoBack();
    }
    m_nOptionsElapsed = 0;
}

void PlayVoiceMsgMenu::HandleMessageKey(char key) {
    if (m_uCursor >= m_Files.size())
        return;
    if (key == '2') {
        const std::string& path = m_Files[m_uCursor];
        TRACE("PlayVoiceMsgMenu::HandleDtmf: deleting voice message %s", path.c_str());
        if (DeleteFileA(path.c_str())) {
            m_pHost->RemoveWaitingMessage();
            m_Files.erase(m_Files.begin() + static_cast<std::ptrdiff_t>(m_uCursor));
        } else {
            TRACE("PlayVoiceMsgMenu::HandleDtmf: cannot delete %s err = %lu", path.c_str(), GetLastError());
        }
    } else if (key == '3') {
        ++m_uCursor;
    }
}

void PlayVoiceMsgMenu::NextMessageState() {
    m_nPlayState = m_uCursor >= m_Files.size() ? kAllPlayed : kIntroduction;
}

// ---------------------------------------------------------------------------------------

VoiceMsgDeleteConfirmMenu::VoiceMsgDeleteConfirmMenu(IIvrMenuHost& host, int nTimeoutMs,
                                                     const std::string& folder, const std::string& pattern)
    : CVoiceMenu(host, nTimeoutMs), m_Folder(folder), m_Pattern(pattern) {}

void VoiceMsgDeleteConfirmMenu::Play() {
    if (!ListFiles(m_Folder, m_Pattern).empty()) {
        CVoiceMenu::Play();
        return;
    }
    CVoiceMenu* pNothing = FindSubMenu('F');
    if (pNothing == nullptr || m_pHost->GetCurrentMenu() == pNothing)
        return;
    m_pHost->GoBack();
    m_pHost->PushMenu(pNothing);
    m_pHost->PlayCurrentMenu();
}

bool VoiceMsgDeleteConfirmMenu::OnKey(char key) {
    if ((key == '1' || key == '2') && InKeySet(key)) {
        m_pHost->GoBack();
        return CVoiceMenu::OnKey(key);
    }
    return true;
}

// ---------------------------------------------------------------------------------------

DeleteFilesMenu::DeleteFilesMenu(IIvrMenuHost& host, int nTimeoutMs, const std::string& filePath)
    : CActionMenu(host, nTimeoutMs), m_bPatternMode(false), m_Path(filePath) {}

DeleteFilesMenu::DeleteFilesMenu(IIvrMenuHost& host, int nTimeoutMs, const std::string& folder,
                                 const std::string& pattern)
    : CActionMenu(host, nTimeoutMs), m_bPatternMode(true), m_Path(folder), m_Pattern(pattern) {}

void DeleteFilesMenu::Reset() {
    CActionMenu::Reset();
    m_Found.clear();
}

void DeleteFilesMenu::PerformAction() {
    if (!m_bPatternMode) {
        TRACE("Deleting Wav File %s", m_Path.c_str());
        DeleteFileA(m_Path.c_str());
        return;
    }
    m_Found = ListFiles(m_Path, m_Pattern);
    for (const std::string& file : m_Found) {
        TRACE("Deleting Wav File %s", file.c_str());
        DeleteFileA(file.c_str());
    }
    m_pHost->ResetWaitingMessages();
}

// ---------------------------------------------------------------------------------------

GreetingListenMenu::GreetingListenMenu(IIvrMenuHost& host, int nTimeoutMs, const std::string& greetingPath)
    : CVoiceMenu(host, nTimeoutMs), m_GreetingPath(greetingPath) {}

void GreetingListenMenu::Play() {
    if (IsReadableWave(m_GreetingPath))
        PlayFile(m_GreetingPath);
    else
        CVoiceMenu::Play();
}

bool GreetingListenMenu::InterpretControl(char) {
    if (!IsPromptPlaying())
        m_pHost->GoBack();
    return true;
}
