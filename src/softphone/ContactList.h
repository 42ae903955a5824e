// CContactList: the agent's copy of the softphone user's friends, each with its online
// status and speed-dial number, filled from the softphone's replies after each connection.
// It tells the client when the softphone's start-up data are complete (the first status
// of the last friend), gives the speed-dial number that becomes a calling friend's number,
// and finds a friend by speed-dial number.
//
// Threads: GUI thread only (the softphone's replies arrive there).
#pragma once

#include <memory>
#include <string>
#include <vector>

class COrvinApiClient;

class CContact {
public:
    explicit CContact(std::string name) : m_Name(std::move(name)) {}
    virtual ~CContact() = default;

    std::string m_Name;      // the softphone handle as received
    std::string m_SpeedDial; // empty until known
    int m_nStatus = 0;       // 0 until known
};

class CContactList {
public:
    explicit CContactList(COrvinApiClient* owner) : m_pOwner(owner) {}

    // "online" 1, "offline" 2, "away" 3, "na" 4, "dnd" 5, "invisible" 6, "loggedout" 7;
    // anything else 0.
    static int StatusCode(const std::string& word);

    void Reset();
    // Appends the contact and asks the softphone for its status and speed dial.
    void AddContact(const std::string& name);
    void RemoveContact(const std::string& name);
    CContact* FindByName(const std::string& name);
    CContact* FindByNumber(const std::string& number);
    // The first known status of the last contact completes the softphone's start-up.
    void SetOnlineStatus(const std::string& name, const std::string& word);
    void SetSpeedDial(const std::string& name, const std::string& number);
    void Print() const;

    size_t Count() const { return m_Contacts.size(); }
    const CContact& At(size_t index) const { return *m_Contacts[index]; }

private:
    COrvinApiClient* m_pOwner;
    std::vector<std::unique_ptr<CContact>> m_Contacts;
    int m_nFirstStatuses = 0;
};
