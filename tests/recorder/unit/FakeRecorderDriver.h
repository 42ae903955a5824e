// A recorder driver for the call recorder's tests: it serves the message-mode pipe
// "\\.\pipe\NAME" the way the recorder's DriverChannel carries its requests where the
// device does not exist (DriverPipeServer), keeps every request, gives out a registration
// and answers each read with the next data the test queued. Its answers can be made
// faulty: nothing, a failure result, more bytes than the buffer, a length beyond it, or
// the device call itself failing with a Win32 error.
//
// The numbers are the driver's own: control code 0x222000, commands 0xF003 read, 0xF004
// register, 0xF005 unregister, 0xF006 choose channels; records of a 40-byte header (name
// in 8 bytes, 1 at 8, payload length at 20) and their payload.
#pragma once

#include "tests/foundation/DriverPipeServer.h"

#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

struct RecorderRequest {
    uint32_t ioctl = 0;
    uint32_t command = 0;
    uint32_t length = 0;
    uint32_t reserved = 0;
    int32_t status = 0;
    uint32_t param[4] = {};
    std::vector<uint8_t> data;
};

inline uint32_t Word(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t value = 0;
    if (at + 4 <= bytes.size()) {
        memcpy(&value, bytes.data() + at, 4);
    }
    return value;
}

// One record of the driver: channel name (at most 8 bytes), valid word, payload.
inline std::vector<uint8_t> Record(const std::string& channel, uint32_t valid,
                                   const std::vector<uint8_t>& payload, uint32_t claimedLength = UINT32_MAX) {
    std::vector<uint8_t> record(40 + payload.size(), 0);
    memcpy(record.data(), channel.data(), channel.size() < 8 ? channel.size() : 8);
    memcpy(record.data() + 8, &valid, 4);
    const uint32_t length = claimedLength == UINT32_MAX ? (uint32_t)payload.size() : claimedLength;
    memcpy(record.data() + 20, &length, 4);
    if (!payload.empty()) {
        memcpy(record.data() + 40, payload.data(), payload.size());
    }
    return record;
}

inline std::vector<uint8_t> EventRecord(uint32_t event, uint32_t payloadLength = 4, uint32_t valid = 1) {
    std::vector<uint8_t> payload(payloadLength, 0);
    memcpy(payload.data(), &event, payloadLength < 4 ? payloadLength : 4);
    return Record("VCLCTRL", valid, payload);
}

inline std::vector<uint8_t> AudioRecord(const std::vector<uint8_t>& samples) {
    return Record("VCLOG", 0, samples);
}

inline std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class FakeRecorderDriver {
public:
    enum class Answer { Normal, Nothing, Failure, TooLong, LengthBeyondBuffer };
    static constexpr uint32_t kRegistration = 0x4711;

    explicit FakeRecorderDriver(const char* name)
        : m_server(name, [this](const DriverRequestSeen& seen) { return Respond(seen); }) {}

    bool Valid() const { return m_server.Valid(); }
    void QueueRead(std::vector<uint8_t> data) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reads.push_back(std::move(data));
    }
    // A read that returns `length` bytes of filler records (kept whole: audio records of
    // zeros on a channel nobody takes, so they change nothing).
    void QueueFiller(uint32_t length) {
        std::vector<uint8_t> data;
        while (data.size() + 40 <= length) {
            const uint32_t payload =
                length - (uint32_t)data.size() - 40 > 1000 ? 1000 : length - (uint32_t)data.size() - 40;
            auto record = Record("VCLFILL", 0, std::vector<uint8_t>(payload, 0));
            data.insert(data.end(), record.begin(), record.end());
        }
        data.resize(length, 0);
        QueueRead(std::move(data));
    }
    size_t PendingReads() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_reads.size();
    }
    void SetAnswer(Answer answer) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answer = answer;
    }
    // Every request fails as a device call with this Win32 error (0: answered again).
    void FailCalls(DWORD error) { m_server.FailWith(error); }
    // Every read returns this many bytes (0: the queued data only).
    void SetEndlessReads(uint32_t length) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_endless = length;
    }
    std::vector<RecorderRequest> Requests() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    std::vector<RecorderRequest> Requests(uint32_t command) {
        std::vector<RecorderRequest> found;
        for (const RecorderRequest& request : Requests()) {
            if (request.command == command) {
                found.push_back(request);
            }
        }
        return found;
    }
    size_t Count(uint32_t command) { return Requests(command).size(); }
    void Forget() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.clear();
    }

private:
    std::vector<uint8_t> Respond(const DriverRequestSeen& seen) {
        RecorderRequest request;
        request.ioctl = seen.ioctl;
        const std::vector<uint8_t>& buffer = seen.buffer;
        request.command = Word(buffer, 0);
        request.length = Word(buffer, 4);
        request.reserved = Word(buffer, 8);
        request.status = (int32_t)Word(buffer, 12);
        for (int i = 0; i < 4; ++i) {
            request.param[i] = Word(buffer, 16 + 4 * i);
        }
        if (buffer.size() > 32) {
            request.data.assign(buffer.begin() + 32, buffer.end());
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(request);
        std::vector<uint8_t> reply = buffer;
        auto set = [&](size_t at, uint32_t value) { memcpy(reply.data() + at, &value, 4); };
        switch (m_answer) {
        case Answer::Nothing:
            return {};
        case Answer::Failure:
            set(4, 0);
            set(12, 0xC0000001);
            return reply;
        default:
            break;
        }
        set(12, 0);
        if (request.command == 0xF004 && reply.size() >= 32 + 148) {
            set(32 + 144, kRegistration);
        } else if (request.command == 0xF003) {
            std::vector<uint8_t> data;
            if (!m_reads.empty()) {
                data = std::move(m_reads.front());
                m_reads.pop_front();
            } else if (m_endless) {
                data = Record("VCLFILL", 0, std::vector<uint8_t>(m_endless - 40, 0));
            }
            const size_t room = reply.size() - 32;
            std::fill(reply.begin() + 32, reply.end(), 0);
            memcpy(reply.data() + 32, data.data(), data.size() < room ? data.size() : room);
            set(4, m_answer == Answer::LengthBeyondBuffer && !data.empty() ? 40000 : (uint32_t)data.size());
        } else if (request.command == 0xF005) {
            set(4, 0);
        }
        if (m_answer == Answer::TooLong) {
            reply.resize(reply.size() + 64, 0xEE);
        }
        return reply;
    }

    std::mutex m_mutex;
    std::vector<RecorderRequest> m_requests;
    std::deque<std::vector<uint8_t>> m_reads;
    Answer m_answer = Answer::Normal;
    uint32_t m_endless = 0;
    DriverPipeServer m_server; // last: its thread goes before the state above
};
