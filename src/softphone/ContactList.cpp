#include "softphone/ContactList.h"

#include "base/trace/Trace.h"
#include "softphone/OrvinApiClient.h"

int CContactList::StatusCode(const std::string& word) {
    static const char* const kWords[] = {"unknown", "online", "offline",   "away",
                                         "na",      "dnd",    "invisible", "loggedout"};
    for (int code = 1; code < 8; ++code) {
        if (word == kWords[code]) {
            return code;
        }
    }
    return 0;
}

void CContactList::Reset() {
    TRACE("CContactList::Reset()");
    m_Contacts.clear();
    Print();
}

void CContactList::AddContact(const std::string& name) {
    m_Contacts.push_back(std::make_unique<CContact>(name));
    if (m_pOwner) {
        m_pOwner->SendMessageToApiServer(("get user " + name + " onlinestatus").c_str());
        m_pOwner->SendMessageToApiServer(("get user " + name + " speeddial").c_str());
    }
}

void CContactList::RemoveContact(const std::string& name) {
    for (auto it = m_Contacts.begin(); it != m_Contacts.end(); ++it) {
        if ((*it)->m_Name == name) {
            m_Contacts.erase(it);
            return;
        }
    }
}

CContact* CContactList::FindByName(const std::string& name) {
    for (auto& contact : m_Contacts) {
        if (contact->m_Name == name) {
            return contact.get();
        }
    }
    return nullptr;
}

CContact* CContactList::FindByNumber(const std::string& number) {
    for (auto& contact : m_Contacts) {
        if (contact->m_SpeedDial == number) {
            return contact.get();
        }
    }
    return nullptr;
}

void CContactList::SetOnlineStatus(const std::string& name, const std::string& word) {
    CContact* contact = FindByName(name);
    if (!contact) {
        return;
    }
    if (contact->m_nStatus == 0) {
        ++m_nFirstStatuses;
        if (contact->m_Name == m_Contacts.back()->m_Name) {
            if (m_pOwner) {
                m_pOwner->OnApiServerConnect();
            }
            m_nFirstStatuses = 0;
            Print();
        }
    }
    contact->m_nStatus = StatusCode(word);
}

void CContactList::SetSpeedDial(const std::string& name, const std::string& number) {
    if (CContact* contact = FindByName(name)) {
        contact->m_SpeedDial = number;
    }
}

void CContactList::Print() const {
    TRACE("Contact List:");
    for (size_t i = 0; i < m_Contacts.size(); ++i) {
        const CContact& contact = *m_Contacts[i];
        TRACE("Contact[%d]: Name:%s, Number:%s, Status:%d", (int)i, contact.m_Name.c_str(),
              contact.m_SpeedDial.c_str(), contact.m_nStatus);
    }
    TRACE("Contact list length %d", (int)m_Contacts.size());
}
