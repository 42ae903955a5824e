#include "ivr/VoiceMenu.h"

#include "audio/RiffWave.h"
#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"
#include "ivr/PinGuard.h"

#include <algorithm>
#include <cstring>

CVoiceMenu::CVoiceMenu(IIvrMenuHost& host, int nTimeoutMs)
    : m_nTimeout(nTimeoutMs), m_KeySet("0123456789"), m_pHost(&host) {}

CVoiceMenu::~CVoiceMenu() = default;

bool CVoiceMenu::InterpretControl(char key) {
    if (key == 0)
        return OnTick();
    TRACE("CVoiceMenu::InterpretControl dtmf = %c", CPinGuard::MaskedKey(key, m_pHost->IsPinEntryActive()));
    if (key == '#')
        return OnPound();
    if (key == '*')
        return OnStar();
    ResetTimer();
    return OnKey(key);
}

void CVoiceMenu::Reset() {
    m_nPlayCount = 1;
    m_nElapsed = 0;
}

void CVoiceMenu::Play() {
    TRACE("CVoiceMenu::Play 0x%x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(this)));
    if (m_pPrompt)
        m_pPrompt->StartPlayback();
}

bool CVoiceMenu::OnTick() {
    if (IsPromptPlaying())
        return true;
    m_nElapsed += kTickMs;
    if (m_nElapsed != m_nTimeout)
        return true;
    if (m_nPlayCount < m_nRepeat) {
        ++m_nPlayCount;
        m_nElapsed = 0;
        OnReplay(m_nPlayCount);
        Play();
    } else {
        OnTimeout();
    }
    return true;
}

bool CVoiceMenu::OnPound() {
    return true;
}

bool CVoiceMenu::OnStar() {
    StopPrompt();
    if (!m_pHost->GoBack()) {
        Reset();
        Play();
    }
    return true;
}

bool CVoiceMenu::OnKey(char key) {
    if (!InKeySet(key))
        return false;
    CVoiceMenu* pSub = GetSubMenu(key);
    if (pSub == nullptr)
        return true;
    StopPrompt();
    if (m_pHost->GetCurrentMenu() != pSub)
        m_pHost->PushMenu(pSub);
    return true;
}

void CVoiceMenu::ResetTimer() {
    m_nElapsed = 0;
}

void CVoiceMenu::OnTimeout() {
    PushIfNotCurrent(m_pHost->GetGoodByeMenu());
}

void CVoiceMenu::OnReplay(int) {}

bool CVoiceMenu::AddPromptFile(const std::string& path) {
    return EnsurePrompt()->AddFileToPlayAtBack(path);
}

void CVoiceMenu::AddSubMenu(char key, std::unique_ptr<CVoiceMenu> pMenu) {
    if (pMenu)
        m_SubMenus.emplace(key, std::move(pMenu));
}

void CVoiceMenu::StopPrompt() {
    if (m_pPrompt)
        m_pPrompt->Stop();
}

CVoiceMenu* CVoiceMenu::GetSubMenu(char key) const {
    auto it = m_SubMenus.find(key);
    return it == m_SubMenus.end() ? nullptr : it->second.get();
}

bool CVoiceMenu::IsPromptPlaying() const {
    return m_pPrompt && m_pPrompt->IsPlaying();
}

CVoiceMenu* CVoiceMenu::FindSubMenu(char upperKey) const {
    if (CVoiceMenu* pSub = GetSubMenu(upperKey))
        return pSub;
    return GetSubMenu(static_cast<char>(upperKey - 'A' + 'a'));
}

bool CVoiceMenu::PushIfNotCurrent(CVoiceMenu* pMenu) {
    if (pMenu == nullptr || m_pHost->GetCurrentMenu() == pMenu)
        return false;
    m_pHost->PushMenu(pMenu);
    return true;
}

void CVoiceMenu::PlayFile(const std::string& path) {
    EnsurePrompt()->PlayFile(path.c_str());
}

IMM CVoiceMenu::MakeReport(int32_t nCode, int32_t nParameter) {
    IMM report;
    std::memset(&report, 0, sizeof report);
    report.Type = MSG_TYPE_IVR_EVENT;
    report.Code = nCode;
    std::memcpy(report.Buffer1 + 4, &nParameter, sizeof nParameter);
    return report;
}

// A menu without a prompt section still needs one to play a single file: an empty list.
CPrompt* CVoiceMenu::EnsurePrompt() {
    if (!m_pPrompt)
        m_pPrompt = std::make_unique<CPrompt>(m_pHost->GetStreamingSound(), m_pHost->GetPlaybackEvent());
    return m_pPrompt.get();
}

bool IsPinEntryOnPath(const std::vector<CVoiceMenu*>& path, const CVoiceMenu* pFloor) {
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
        if (dynamic_cast<const PinNumberMenu*>(*it) != nullptr)
            return true;
        if (*it == pFloor)
            break;
    }
    return false;
}

bool IsReadableWave(const std::string& path) {
    CRiffWave wave;
    return SUCCEEDED(wave.Open(path.c_str(), nullptr, CRiffWave::kModeRead));
}

// ---------------------------------------------------------------------------------------

bool InfoMenu::InterpretControl(char) {
    if (!IsPromptPlaying())
        m_pHost->GoBack();
    return true;
}

bool ChildMenu::InterpretControl(char key) {
    if (key != 0)
        return false;
    return IsPromptPlaying();
}

bool ByeMenu::InterpretControl(char) {
    if (!m_bReported && !IsPromptPlaying()) {
        m_bReported = true;
        IMM report = MakeReport(IVR_TERMINATE_REQUEST, 0);
        m_pHost->Report(&report);
    }
    return true;
}

void ByeMenu::Reset() {
    CVoiceMenu::Reset();
    m_bReported = false;
}

// ---------------------------------------------------------------------------------------

PinNumberMenu::PinNumberMenu(IIvrMenuHost& host, int nTimeoutMs)
    : CVoiceMenu(host, nTimeoutMs), m_Pin(host.GetPin()) {}

void PinNumberMenu::Reset() {
    CVoiceMenu::Reset();
    m_Collected.clear();
}

void PinNumberMenu::OnReplay(int) {
    m_Collected.clear();
}

// A child above has played and passes its ticks down: it is removed, and the state machine
// plays this menu again.
bool PinNumberMenu::OnTick() {
    if (IsCurrent())
        return CVoiceMenu::OnTick();
    m_pHost->GoBack();
    return true;
}

bool PinNumberMenu::OnKey(char key) {
    if (!IsCurrent())
        m_pHost->GoBack();
    if (key < '0' || key > '9')
        return true;
    StopPrompt();
    if (m_Collected.size() < kMaxDigits)
        m_Collected += key;
    else if (!IsRightPin(m_Collected + key)) // never right, but counted as an entry
        Failure();
    return true;
}

bool PinNumberMenu::OnStar() {
    TRACE("PinNumberMenu::HandleDigits Pin collected: %s", CPinGuard::Masked(m_Collected).c_str());
    if (!IsCurrent())
        m_pHost->GoBack();
    if (!IsRightPin(m_Collected)) {
        Failure();
        return true;
    }
    CVoiceMenu* pSuccess = FindSubMenu('S');
    if (pSuccess != nullptr && m_pHost->GetCurrentMenu() != pSuccess) {
        StopPrompt();
        m_pHost->PushMenu(pSuccess);
        m_pHost->SetFloorMenu(pSuccess);
    }
    return true;
}

bool PinNumberMenu::IsRightPin(const std::string& entered) {
    if (CPinGuard* pGuard = m_pHost->GetPinGuard())
        return pGuard->CheckEntry(m_pHost->GetConversationId(), entered, m_Pin);
    return CPinGuard::Matches(entered, m_Pin);
}

void PinNumberMenu::Failure() {
    ++m_nFailures;
    m_Collected.clear();
    if (m_nFailures >= kMaxFailures) {
        PushIfNotCurrent(m_pHost->GetGoodByeMenu());
        return;
    }
    CVoiceMenu* pFailed = FindSubMenu('F');
    if (pFailed != nullptr && m_pHost->GetCurrentMenu() != pFailed) {
        StopPrompt();
        m_pHost->PushMenu(pFailed);
    }
}

// ---------------------------------------------------------------------------------------

bool PhoneNumberMenu::InterpretControl(char key) {
    if (key == 0)
        return OnTick();
    if (key >= '0' && key <= '9') {
        StopPrompt();
        ResetTimer();
        m_Number += key;
    } else if (key == '*') {
        StopPrompt();
        ResetTimer();
        TRACE("PhoneNumberMenu::InterpretControl: Phone Number %s", m_Number.c_str());
        IMM report = MakeReport(IVR_CM_CONNECT_TO, 1);
        std::memcpy(report.Buffer1 + 8, m_Number.data(), std::min(m_Number.size(), kReportedDigits));
        m_pHost->Report(&report);
    }
    return true;
}

void PhoneNumberMenu::Reset() {
    CVoiceMenu::Reset();
    m_Number.clear();
}

void PhoneNumberMenu::OnReplay(int) {
    m_Number.clear();
}

// ---------------------------------------------------------------------------------------

CallForwardMenu::CallForwardMenu(IIvrMenuHost& host, int nTimeoutMs, bool bAdminKeys)
    : CVoiceMenu(host, nTimeoutMs), m_bAdminKeys(bAdminKeys) {}

bool CallForwardMenu::OnStar() {
    return OnKey('*');
}

bool CallForwardMenu::OnKey(char key) {
    if (!InKeySet(key) || !m_bAdminKeys)
        return false;
    if (CVoiceMenu* pSub = GetSubMenu(key)) {
        StopPrompt();
        if (m_pHost->GetCurrentMenu() != pSub) {
            m_pHost->PushMenu(pSub);
            m_pHost->SetFloorMenu(pSub);
        }
    }
    return true;
}

void CallForwardMenu::OnTimeout() {
    IMM report = MakeReport(IVR_CM_CONNECT_TO, 1);
    m_pHost->Report(&report);
    m_pHost->GoBack();
    Reset();
}

AMGreetingMenu::AMGreetingMenu(IIvrMenuHost& host, int nTimeoutMs, bool bAdminKeys,
                               const std::string& greetingPath)
    : CallForwardMenu(host, nTimeoutMs, bAdminKeys), m_GreetingPath(greetingPath) {}

void AMGreetingMenu::Play() {
    if (IsReadableWave(m_GreetingPath))
        PlayFile(m_GreetingPath);
    else
        CVoiceMenu::Play();
}

void AMGreetingMenu::OnTimeout() {
    CVoiceMenu* pNext = FindSubMenu('T');
    if (pNext != nullptr && m_pHost->GetCurrentMenu() != pNext) {
        StopPrompt();
        m_pHost->PushMenu(pNext);
    }
}

// ---------------------------------------------------------------------------------------

bool CActionMenu::InterpretControl(char) {
    if (!m_bDone) {
        m_bDone = true;
        PerformAction();
    }
    if (!IsPromptPlaying())
        m_pHost->GoBack();
    return true;
}

void CActionMenu::Reset() {
    CVoiceMenu::Reset();
    m_bDone = false;
}

void SoftphoneVoiceMailMenu::PerformAction() {
    IMM report = MakeReport(IVR_CM_GOTO_VOICE_MAIL, 8);
    m_pHost->Report(&report);
}

bool LineAttachMenu::InterpretControl(char) {
    if (!m_bDone && !IsPromptPlaying()) {
        m_bDone = true;
        PerformAction();
    }
    return true;
}

void LineAttachMenu::Reset() {
    CVoiceMenu::Reset();
    m_bDone = false;
}

void LineAttachMenu::PerformAction() {
    IMM report = MakeReport(IVR_CM_CONNECT_TO, 7);
    m_pHost->Report(&report);
}
