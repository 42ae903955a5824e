#include "audio/Prompt.h"

#include "base/trace/Trace.h"

CPrompt::CPrompt(CPlaylistSound* pSound, HANDLE hPlaybackEvent)
    : m_pSound(pSound), m_hPlaybackEvent(hPlaybackEvent) {}

bool CPrompt::AddFileToPlayAtBack(const std::string& fileName) {
    if (fileName.empty())
        return false;
    m_Files.push_back(fileName);
    return true;
}

HRESULT CPrompt::StartPlayback() {
    TRACE("CPrompt::StartPlayback");
    if (m_pSound == nullptr)
        return CO_E_NOTINITIALIZED;
    return m_pSound->PlayList(&m_Files);
}

HRESULT CPrompt::PlayFile(const char* pszFileName) {
    if (m_pSound == nullptr)
        return CO_E_NOTINITIALIZED;
    return m_pSound->PlayFile(pszFileName);
}

HRESULT CPrompt::Stop() {
    if (m_pSound == nullptr)
        return CO_E_NOTINITIALIZED;
    return m_pSound->PlayBackground();
}

bool CPrompt::IsPlaying() const {
    return m_pSound != nullptr && !m_pSound->IsFinished();
}
