// InputLines: the lines of a stand-in's standard input (its --interactive commands), read by
// a thread of their own so that the main thread keeps serving its window.
//
// Threads: Start begins the reading thread; Event and Take belong to the main thread.
#pragma once

#include <windows.h>

#include <deque>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

namespace orvin::sim {

// The event is set while a line (or the end) waits to be taken.
class InputLines {
public:
    InputLines() : m_hEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    void Start() {
        // Detached: at exit it may still block in a read, which ends with the process.
        std::thread([this] {
            std::string line;
            while (std::getline(std::cin, line)) {
                Push(line, false);
            }
            Push({}, true);
        }).detach();
    }
    HANDLE Event() const { return m_hEvent; }
    enum class Next { Line, None, End };
    Next Take(std::string* line) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_lines.empty()) {
            *line = m_lines.front();
            m_lines.pop_front();
            if (m_lines.empty() && !m_bEnd) {
                ResetEvent(m_hEvent);
            }
            return Next::Line;
        }
        return m_bEnd ? Next::End : Next::None;
    }

private:
    void Push(const std::string& line, bool end) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (end) {
            m_bEnd = true;
        } else {
            m_lines.push_back(line);
        }
        SetEvent(m_hEvent);
    }

    HANDLE m_hEvent;
    std::mutex m_mutex; // guards m_lines and m_bEnd
    std::deque<std::string> m_lines;
    bool m_bEnd = false;
};

} // namespace orvin::sim
