#include "softphone/AnsweringMachineClient.h"

#include "devicelink/MessageCatalogue.h"

CAnsweringMachineClient::CAnsweringMachineClient(int variant)
    : m_nVariant(variant ? 1 : 0), m_pEngine(std::make_unique<CAnsweringMachineEngine>()) {
    m_pMessageEngine = m_pEngine.get();
    m_DisplayName = "TAM";
    m_nConnectionFlags = kFlagAgentUp | kFlagApiAttached | kFlagSoftphoneReady;
}

void CAnsweringMachineClient::OnVoipAdapterAttach() {
    COrvinApiClient::OnVoipAdapterAttach();
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus,
                  m_nVariant ? AgentStatusAnsweringMachineOnly1 : AgentStatusAnsweringMachineOnly0);
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentConnectedToVoip);
}

void CAnsweringMachineClient::OnVoipAdapterDetach() {
    COrvinApiClient::OnVoipAdapterDetach();
    SetConnectionFlags(kFlagApiAttached | kFlagSoftphoneReady, 0);
}
