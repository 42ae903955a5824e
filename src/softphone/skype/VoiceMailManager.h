// VoiceMailManager: the user's Skype voicemails, in the order Skype listed them, with the
// manager state that the Skype client's voicemail session follows:
//   0 voicemail not available for this user, 1 available, 2 looked: none, 3 looked: some,
//   4 unplayed or new voicemails pending, 5 a voicemail session (nothing playing), 6 playing.
// States 2, 3, 4 and 6 are taken only once a session has begun since the last reset (the
// state is above 1); 1 only from 0; 0 and 5 always (5 from below 5 rewinds the position).
//
// The play list holds indexes into the entries: the voicemails not yet played first, in
// reverse list order, then the played ones in list order. The commands (Play, Delete,
// KeepAndPlayNext, StopPlayback, DeleteAll) act only in a session (state above 4) and only
// on a current entry; they go to Skype through the owning client, and the playback's start
// and end come back to the client from the status notifications.
//
// Skype may answer a command before the send returns (its notification is delivered while
// the agent waits in SendMessage), so no entry, iterator or index is held across a send:
// walks go over a copy of the ids, and entries are looked up again after every send.
//
// The ThinkIt client keeps one too, filled and followed from ThinkIt's notifications only.
//
// Threads: GUI thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

class CTextApiClient;
class VString;

class CVoiceMail {
public:
    CVoiceMail(int id, int status) : m_nId(id), m_nStatus(status) {}
    virtual ~CVoiceMail() = default;

    int m_nId;
    int m_nStatus = 13; // "unknown"
    int m_nType = 4;    // "unknown_type"
};

class VoiceMailManager {
public:
    explicit VoiceMailManager(CTextApiClient* owner) : m_pOwner(owner) {}

    // "notdownloaded" 0 ... "failed" 12 (10 is never produced); anything else 13.
    static int StatusCode(const std::string& word);
    // "incoming" 0, "outgoing" 1, "default_greeting" 2, "custom_greeting" 3; else 4.
    static int TypeCode(const std::string& word);

    void Reset();
    void Add(int id, int status);
    void InsertFirst(int id, int status);
    void Remove(int id);
    CVoiceMail* Find(int id);
    // The notifications, each with its tokens as the client received them (lower case).
    void OnVoicemails(const VString& tokens, int protocolLevel); // "voicemails" id1 id2 ...
    void OnStatus(const VString& tokens);                        // "voicemail" id "status" s
    void OnType(const VString& tokens);                          // "voicemail" id "type" t

    void SetVMMState(int state);
    int GetVMMState() const { return m_nState; }

    void BuildPlayList();
    CVoiceMail* Current();
    void Advance();
    size_t CurrentPosition() const { return m_nCurrent; }
    const std::vector<size_t>& PlayList() const { return m_PlayList; }

    void Play();
    void Delete();
    void KeepAndPlayNext();
    void StopPlayback();
    void DeleteAll();

    // Entries of status 2 (unplayed) whose type is 0 or 4.
    int CountUnplayedIncoming() const;
    bool HasUnplayedIncoming() const { return CountUnplayedIncoming() > 0; }
    bool IsEmpty() const { return m_Entries.empty(); }
    bool IsLast(const CVoiceMail& entry) const;
    size_t Count() const { return m_Entries.size(); }
    const CVoiceMail& At(size_t index) const { return *m_Entries[index]; }
    void Print() const;

private:
    // The ids in list order: what a walk that sends to Skype goes over, since Skype may
    // answer inside each send and so change the list.
    std::vector<int> Ids() const;

    CTextApiClient* m_pOwner;
    int m_nState = 0;
    std::vector<std::unique_ptr<CVoiceMail>> m_Entries;
    size_t m_nCurrent = 0;
    std::vector<size_t> m_PlayList;
};
