#include "SkypeWindow_win.h"

#include <cstring>

namespace orvin::skypesim {

using orvin::sim::HandleText;
using orvin::sim::OutgoingRecord;
using orvin::sim::ReceivedRecord;

const SimProfile kSkypeSimProfile = {
    "SkypeSim",
    "Skype",
    "tSkMainForm.UnicodeClass",
    "Skype",
    "SkypeControlAPIDiscover",
    "SkypeControlAPIAttach",
    "OrvinSkypeSim.SingleInstance",
    "UTF-8, one per message",
    &kSkypeAttachStatuses,
    &kSkypeCommandRules,
};

std::wstring Widen(const char* text) {
    return std::wstring(text, text + strlen(text));
}

bool SkypeWindow::Start(std::string* error) {
    m_discoverMessage = RegisterWindowMessageW(Widen(m_profile.discoverMessage).c_str());
    m_attachMessage = RegisterWindowMessageW(Widen(m_profile.attachMessage).c_str());
    if (!m_discoverMessage || !m_attachMessage) {
        *error = "RegisterWindowMessage failed: " + std::to_string(GetLastError());
        return false;
    }
    orvin::sim::SoftphoneProtocol protocol;
    protocol.noun = "command";
    protocol.onMessage = [this](UINT message, WPARAM wParam, LPARAM) {
        if (message == m_discoverMessage) {
            m_window.AddDiscover(reinterpret_cast<HWND>(wParam));
            return true;
        }
        return message == m_attachMessage; // our own broadcast of "available"
    };
    protocol.show = [](const ReceivedRecord& received) { return ShowText(CommandText(received.bytes)); };
    protocol.showOutgoing = [](const OutgoingRecord& record, bool delivered) {
        const bool unterminated = record.bytes.empty() || record.bytes.back() != '\0';
        return ShowText(CommandText(record.bytes)) +
               (delivered && unterminated ? "  (no terminating zero)" : "");
    };
    protocol.check = [this](const ReceivedRecord& received) {
        ReceivedCommand command;
        command.data = received.data;
        command.bytes = received.bytes;
        command.attached = received.attached;
        command.fromAttachedWindow = received.fromAttachedWindow;
        return CheckCommand(command, *m_profile.rules);
    };
    protocol.reply = [this](const ReceivedRecord& received, std::vector<OutgoingRecord>* replies) {
        return Reply(received, replies);
    };
    return m_window.Start(Widen(m_profile.windowClass).c_str(), Widen(m_profile.windowTitle).c_str(),
                          std::move(protocol), error);
}

int SkypeWindow::Reply(const ReceivedRecord& received, std::vector<OutgoingRecord>* replies) {
    const std::string text = CommandText(received.bytes);
    std::lock_guard<std::mutex> lock(m_answersMutex);
    for (const SkypeCommand& answer : m_answers) {
        std::vector<std::string> captures;
        if (!answer.pattern.Match(text, &captures)) {
            continue;
        }
        for (const auto& reply : answer.replies) {
            replies->push_back({0, reply.Expand(text, captures) + '\0', answer.inside});
        }
        return answer.line;
    }
    return 0;
}

bool SkypeWindow::Attach(uint32_t status, uint32_t timeoutMs, std::string* failure) {
    if (status == m_profile.statuses->available) {
        // A new handshake follows: the agents that hear this discover again.
        if (!m_window.ResetHandshake(failure)) {
            return false;
        }
        m_log.Line("attach %s: broadcast", AttachStatusName(status, *m_profile.statuses).c_str());
        if (!PostMessageW(HWND_BROADCAST, m_attachMessage, reinterpret_cast<WPARAM>(m_window.Window()),
                          status)) {
            *failure = "the broadcast failed: " + std::to_string(GetLastError());
            return false;
        }
        return true;
    }
    HWND target = nullptr;
    // "Not available" to the attached window keeps that window for the commands it still
    // sends then.
    if (!m_window.TakeAttachTarget(timeoutMs, status == m_profile.statuses->success,
                                   status == m_profile.statuses->notAvailable, &target, failure)) {
        return false;
    }
    m_log.Line("attach %s to %s", AttachStatusName(status, *m_profile.statuses).c_str(),
               HandleText(target).c_str());
    if (!PostMessageW(target, m_attachMessage, reinterpret_cast<WPARAM>(m_window.Window()), status)) {
        *failure = "the attach message could not be posted to " + HandleText(target) + ": " +
                   std::to_string(GetLastError());
        return false;
    }
    return true;
}

bool SkypeWindow::ExpectCommand(const Pattern& pattern, uint32_t timeoutMs, std::string* failure) {
    return m_window.Expect(
        [&](const ReceivedRecord& received) { return pattern.Match(CommandText(received.bytes)); },
        "command matching '" + ShowText(pattern.Written()) + "'", timeoutMs, failure);
}

bool SkypeWindow::Notify(const std::string& text, bool zero, std::string* failure) {
    return m_window.SendToAgent({0, zero ? text + '\0' : text}, failure);
}

void SkypeWindow::AddAnswer(const SkypeCommand& answer) {
    std::lock_guard<std::mutex> lock(m_answersMutex);
    m_answers.push_back(answer);
}

} // namespace orvin::skypesim
