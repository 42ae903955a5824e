// The voicemail list and its session: Skype's "voicemails" and "voicemail" notifications,
// the play list and the commands that play and delete.
#include "softphone/skype/VoiceMailManager.h"

#include "base/trace/Trace.h"
#include "softphone/TextApiClient.h"
#include "softphone/Tokenizer.h"

#include <cstdlib>
#include <optional>

namespace {

constexpr UINT_PTR kFirstLookTimer = 32;
constexpr UINT kFirstLookMs = 2000;

constexpr int kStatusNotDownloaded = 0;
constexpr int kStatusUnplayed = 2;
constexpr int kStatusPlaying = 4;
constexpr int kStatusPlayed = 5;
constexpr int kStatusUnknown = 13;
constexpr int kTypeIncoming = 0;
constexpr int kTypeUnknown = 4;

constexpr int kStateNone = 0;
constexpr int kStateAvailable = 1;
constexpr int kStateLookedEmpty = 2;
constexpr int kStateLookedSome = 3;
constexpr int kStatePending = 4;
constexpr int kStateSession = 5;
constexpr int kStatePlaying = 6;

// Skype's ids are decimal; a token that is not a number counts as 0.
int IdOf(const std::string& token) {
    return (int)strtol(token.c_str(), nullptr, 10);
}

} // namespace

int VoiceMailManager::StatusCode(const std::string& word) {
    // Code 10 has no word: Skype's list of statuses has a gap there.
    static const char* const kWords[] = {
        "notdownloaded", "downloading", "unplayed",  "buffering", "playing",  "played", "blank",
        "recording",     "recorded",    "uploading", nullptr,     "deleting", "failed"};
    for (int code = 0; code < (int)(sizeof kWords / sizeof kWords[0]); ++code) {
        if (kWords[code] && word == kWords[code]) {
            return code;
        }
    }
    return kStatusUnknown;
}

int VoiceMailManager::TypeCode(const std::string& word) {
    static const char* const kWords[] = {"incoming", "outgoing", "default_greeting", "custom_greeting"};
    for (int code = 0; code < (int)(sizeof kWords / sizeof kWords[0]); ++code) {
        if (word == kWords[code]) {
            return code;
        }
    }
    return kTypeUnknown;
}

void VoiceMailManager::Reset() {
    TRACE("VoiceMailManager::Reset()");
    m_Entries.clear();
    m_PlayList.clear(); // its indexes pointed into the entries just removed
    m_nState = kStateNone;
    m_nCurrent = 0;
    Print();
}

void VoiceMailManager::Add(int id, int status) {
    m_Entries.push_back(std::make_unique<CVoiceMail>(id, status));
}

void VoiceMailManager::InsertFirst(int id, int status) {
    m_Entries.insert(m_Entries.begin(), std::make_unique<CVoiceMail>(id, status));
}

void VoiceMailManager::Remove(int id) {
    for (auto it = m_Entries.begin(); it != m_Entries.end(); ++it) {
        if ((*it)->m_nId == id) {
            m_Entries.erase(it);
            return;
        }
    }
}

CVoiceMail* VoiceMailManager::Find(int id) {
    for (auto& entry : m_Entries) {
        if (entry->m_nId == id) {
            return entry.get();
        }
    }
    return nullptr;
}

void VoiceMailManager::OnVoicemails(const VString& tokens, int protocolLevel) {
    if (protocolLevel <= 4) {
        return;
    }
    for (int i = 1; i < tokens.Size(); ++i) {
        Add(IdOf(tokens[i]), kStatusUnknown);
    }
    if (tokens.Size() < 2) {
        return; // "voicemails" alone: the user has none
    }
    TRACE("m_VoiceMailMgr.Count() = %d\n", (int)Count());
    // Skype may answer inside each send ("notdownloaded" inserts, "deleting" removes): the
    // walk goes over the ids as they are now, never over the list itself.
    for (const int id : Ids()) {
        const std::string text = std::to_string(id);
        m_pOwner->SendMessageToApiServer("get voicemail " + text + " status");
        m_pOwner->SendMessageToApiServer("get voicemail " + text + " type");
    }
    if (!IsEmpty()) {
        SetVMMState(kStateLookedSome);
        m_pOwner->SetClientTimer(kFirstLookTimer, kFirstLookMs);
        Print();
    }
}

void VoiceMailManager::OnStatus(const VString& tokens) {
    const std::string& idText = tokens[1];
    const std::string& word = tokens[3];
    TRACE("VoiceMail status: id=%s,  status=%s\n", idText.c_str(), word.c_str());
    const int id = IdOf(idText);

    if (word == "deleting") {
        if (!Find(id)) {
            return;
        }
        // The position follows the voicemail it names: Delete() has usually moved on to the
        // next one, which is playing now, and the rebuilt play list may hold it elsewhere
        // (the deleted one is gone, and the played ones have moved behind the unplayed).
        // When the deleted one itself was current, the position stays where it is and so
        // names the one that came after it (nothing after the last).
        const CVoiceMail* current = Current();
        const std::optional<int> follow =
            current && current->m_nId != id ? std::optional<int>(current->m_nId) : std::nullopt;
        Remove(id);
        BuildPlayList();
        if (follow) {
            for (size_t position = 0; position < m_PlayList.size(); ++position) {
                if (m_Entries[m_PlayList[position]]->m_nId == *follow) {
                    m_nCurrent = position;
                    break;
                }
            }
        }
        return;
    }
    if (word == "notdownloaded") {
        // Skype's way of announcing a new voicemail.
        InsertFirst(id, kStatusNotDownloaded);
        SetVMMState(kStatePending);
        TRACE("New Voicemail is pending");
        m_nCurrent = 0;
        return;
    }

    CVoiceMail* entry = Find(id);
    if (!entry) {
        return;
    }
    const int code = StatusCode(word);
    TRACE_LEVEL(1, "Id = %d, PrevState=%d , newState = %s", entry->m_nId, entry->m_nStatus, word.c_str());
    const CVoiceMail seen = *entry; // the callbacks may reach Skype, which may change the list
    if (code == kStatusPlaying) {
        SetVMMState(kStatePlaying);
        m_pOwner->OnStartVoiceMailPlayback(seen);
    } else if (code == kStatusPlayed && seen.m_nStatus == kStatusPlaying) {
        SetVMMState(kStateSession);
        m_pOwner->OnEndVoiceMailPlayback(seen);
    }
    if (CVoiceMail* still = Find(id)) {
        still->m_nStatus = code;
    }
}

void VoiceMailManager::OnType(const VString& tokens) {
    const std::string& idText = tokens[1];
    const std::string& word = tokens[3];
    TRACE("VoiceMail type: id=%s,  type=%s\n", idText.c_str(), word.c_str());
    if (CVoiceMail* entry = Find(IdOf(idText))) {
        entry->m_nType = TypeCode(word);
    }
}

void VoiceMailManager::SetVMMState(int state) {
    TRACE_LEVEL(1, "SetVMMState(): = %d ==>> %d", m_nState, state);
    switch (state) {
    case kStateNone:
        m_nState = state;
        break;
    case kStateAvailable:
        if (m_nState == kStateNone) {
            m_nState = state;
        }
        break;
    case kStateSession:
        if (m_nState < kStateSession) {
            m_nCurrent = 0;
        }
        m_nState = state;
        break;
    case kStateLookedEmpty:
    case kStateLookedSome:
    case kStatePending:
    case kStatePlaying:
        // Only once a session has begun since the last reset.
        if (m_nState > kStateAvailable) {
            m_nState = state;
        }
        break;
    default:
        break;
    }
}

void VoiceMailManager::BuildPlayList() {
    m_PlayList.clear();
    for (size_t i = 0; i < m_Entries.size(); ++i) {
        const CVoiceMail& entry = *m_Entries[i];
        if (entry.m_nStatus != kStatusPlayed) {
            m_PlayList.insert(m_PlayList.begin(), i);
            TRACE("UNPLAYED VoiceMail %d: id=%d, status=%d, type=%d", (int)i, entry.m_nId, entry.m_nStatus,
                  entry.m_nType);
        }
    }
    for (size_t i = 0; i < m_Entries.size(); ++i) {
        const CVoiceMail& entry = *m_Entries[i];
        if (entry.m_nStatus == kStatusPlayed) {
            m_PlayList.push_back(i);
            TRACE("PLAYED VoiceMail %d: id=%d, status=%d, type=%d", (int)i, entry.m_nId, entry.m_nStatus,
                  entry.m_nType);
        }
    }
}

CVoiceMail* VoiceMailManager::Current() {
    if (m_nCurrent >= m_PlayList.size()) {
        return nullptr;
    }
    const size_t index = m_PlayList[m_nCurrent];
    return index < m_Entries.size() ? m_Entries[index].get() : nullptr;
}

void VoiceMailManager::Advance() {
    // From the last entry (or from past the end, after deletions) round to the first.
    if (m_nCurrent + 1 >= m_Entries.size()) {
        m_nCurrent = 0;
    } else {
        ++m_nCurrent;
    }
}

void VoiceMailManager::Play() {
    CVoiceMail* entry = m_nState >= kStateSession ? Current() : nullptr;
    if (!entry) {
        return;
    }
    TRACE("Play #%d, status=%d\n", entry->m_nId, entry->m_nStatus);
    m_pOwner->SendMessageToApiServer("Open Voicemail " + std::to_string(entry->m_nId));
}

void VoiceMailManager::Delete() {
    const CVoiceMail* entry = m_nState >= kStateSession ? Current() : nullptr;
    if (!entry) {
        return;
    }
    // Skype may answer "deleting" inside the send: nothing of the list is held across it.
    const int id = entry->m_nId;
    const bool last = IsLast(*entry);
    TRACE("Delete #%d, status=%d\n", id, entry->m_nStatus);
    m_pOwner->SendMessageToApiServer("alter Voicemail " + std::to_string(id) + " delete");
    if (last) {
        return;
    }
    // Still listed: move on to the next. Gone already: its removal left the position on
    // the one after it.
    if (Find(id)) {
        Advance();
    }
    if (CVoiceMail* next = Current()) {
        TRACE("Play Next #%d, status=%d\n", next->m_nId, next->m_nStatus);
        m_pOwner->SendMessageToApiServer("Open Voicemail " + std::to_string(next->m_nId));
    }
}

void VoiceMailManager::KeepAndPlayNext() {
    if (m_nState < kStateSession) {
        return;
    }
    // Move on first: a position that names no entry (a voicemail announced since the play
    // list was built) must not hold the automatic next at the same place for ever.
    Advance();
    CVoiceMail* entry = Current();
    if (!entry) {
        return;
    }
    TRACE("Keep & Play Next #%d, status=%d\n", entry->m_nId, entry->m_nStatus);
    m_pOwner->SendMessageToApiServer("Open Voicemail " + std::to_string(entry->m_nId));
}

void VoiceMailManager::StopPlayback() {
    CVoiceMail* entry = m_nState >= kStateSession ? Current() : nullptr;
    if (entry && entry->m_nStatus == kStatusPlaying) {
        m_pOwner->SendMessageToApiServer("alter Voicemail " + std::to_string(entry->m_nId) + " stopplayback");
    }
}

void VoiceMailManager::DeleteAll() {
    if (m_nState < kStateSession || !Current()) {
        return;
    }
    // Each "deleting" answer removes an entry, possibly inside the send: walk the ids taken
    // now, and pass over one that is already gone.
    for (const int id : Ids()) {
        if (Find(id)) {
            m_pOwner->SendMessageToApiServer("alter Voicemail " + std::to_string(id) + " delete");
        }
    }
}

std::vector<int> VoiceMailManager::Ids() const {
    std::vector<int> ids;
    ids.reserve(m_Entries.size());
    for (const auto& entry : m_Entries) {
        ids.push_back(entry->m_nId);
    }
    return ids;
}

int VoiceMailManager::CountUnplayedIncoming() const {
    int count = 0;
    for (const auto& entry : m_Entries) {
        if (entry->m_nStatus == kStatusUnplayed &&
            (entry->m_nType == kTypeIncoming || entry->m_nType == kTypeUnknown)) {
            ++count;
        }
    }
    return count;
}

bool VoiceMailManager::IsLast(const CVoiceMail& entry) const {
    return !m_Entries.empty() && entry.m_nId == m_Entries.back()->m_nId;
}

void VoiceMailManager::Print() const {
    TRACE("V o i c e   M a i l   L i s t");
    for (size_t i = 0; i < m_Entries.size(); ++i) {
        const CVoiceMail& entry = *m_Entries[i];
        TRACE("VoiceMail %d: id=%d, status=%d, type=%d", (int)i, entry.m_nId, entry.m_nStatus, entry.m_nType);
    }
}
