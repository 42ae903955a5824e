// The enumeration requester fed fuzzed answers by a "VCORE\HWENUM" served by the test:
// random headers, sizes, statuses and results, answers cut into pieces, cut short, longer
// than they say, or late. The caller's buffer ends where a no-access page begins.
#include "devicelink/AdapterEnum.h"
#include "tests/lib/fuzz/Fuzz.h"
#include "FuzzPipeServer.h"
#include "tests/lib/fuzz/GuardedPage.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kRequestBytes = 16;
constexpr uint32_t kHeaderBytes = 16;
// The most data an answer can carry: the connection's IN FIFO holds 1024 bytes.
constexpr uint32_t kLargestData = 1024;
constexpr uint32_t kBudgetMs = 1000;
// How long a request that must give up may take: the budget, and room for a loaded machine.
constexpr uint32_t kGiveUpWithinMs = kBudgetMs + 1000;
// Keys asked for at start-up: adapters 0 to 4, all the agent can open.
constexpr uint32_t kAdaptersAsked = 5;
constexpr uint8_t kUntouched = 0xA5;

struct Answer {
    std::vector<uint8_t> bytes; // as sent: the header and whatever follows it
    std::vector<size_t> pieces; // lengths of the writes, in order
    DWORD pauseMs = 0;          // between the writes
    DWORD lateMs = 0;           // before the first write
    std::string recipe;
};

// What the requester must make of one answer.
struct Exchange {
    bool answered = false; // a whole answer came within the budget
    bool slow = false;     // it can only give up when the budget has run out
    bool overrun = false;  // more bytes came than the header announced
    uint32_t status = 0;
    uint32_t result = 0;
    std::vector<uint8_t> data;
};

uint32_t Field(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t value;
    memcpy(&value, bytes.data() + offset, 4);
    return value;
}

Exchange Model(const Answer& answer) {
    Exchange e;
    const std::vector<uint8_t>& bytes = answer.bytes;
    if (answer.lateMs || bytes.size() < kHeaderBytes) {
        e.slow = true;
        return e;
    }
    e.status = Field(bytes, 8);
    e.result = Field(bytes, 12);
    const uint32_t wanted = Field(bytes, 0) - kHeaderBytes; // a size below the header's wraps round
    if (wanted > kLargestData) {
        return e;
    }
    if (bytes.size() - kHeaderBytes < wanted) {
        e.slow = true;
        return e;
    }
    e.answered = true;
    e.data.assign(bytes.begin() + kHeaderBytes, bytes.begin() + kHeaderBytes + wanted);
    e.overrun = bytes.size() > kHeaderBytes + wanted;
    return e;
}

// The key a successful answer gives a caller with `capacity` bytes: up to the first NUL
// within the data, cut to leave room for the terminator.
std::string KeyOf(const Exchange& e, size_t capacity) {
    size_t length = strnlen(reinterpret_cast<const char*>(e.data.data()), e.data.size());
    if (length >= capacity) {
        length = capacity - 1;
    }
    return std::string(reinterpret_cast<const char*>(e.data.data()), length);
}

bool KeyGiven(const Exchange& e, size_t capacity) {
    return e.answered && e.status == 0 && capacity >= e.result && !e.data.empty();
}

struct AnswerRules {
    bool forKey = false;
    uint32_t capacity = 0;   // the caller's, for a key
    bool maySlow = false;    // may be late or cut short (each costs the whole budget)
    bool mayOverrun = false; // may carry more than it says
};

Answer RandomAnswer(FuzzRandom& r, const AnswerRules& rules) {
    Answer a;
    std::vector<uint8_t> data;
    if (rules.forKey) {
        const uint32_t length = r.Percent(90) ? r.Range(0, 300) : r.Range(301, kLargestData - 1);
        for (uint32_t i = 0; i < length; ++i) {
            data.push_back((uint8_t)r.Range(' ', '~'));
        }
        const uint32_t roll = r.Below(100);
        if (roll < 70) {
            data.push_back(0);
            a.recipe = "key(" + std::to_string(length) + ")";
        } else if (roll < 85) {
            a.recipe = "unterminated key(" + std::to_string(length) + ")";
        } else {
            if (!data.empty()) {
                data[r.Below((uint32_t)data.size())] = 0;
            }
            data.push_back(0);
            a.recipe = "key with a NUL inside(" + std::to_string(length) + ")";
        }
        if (r.Percent(5)) {
            data = r.Bytes(r.Range(1, 64));
            a.recipe = "binary(" + std::to_string(data.size()) + ")";
        }
    } else if (r.Percent(15)) {
        data = r.Bytes(r.Range(1, 40));
        a.recipe = "count with data(" + std::to_string(data.size()) + ")";
    } else {
        a.recipe = "count";
    }

    uint32_t status = 0;
    if (r.Percent(25)) {
        const uint32_t failures[] = {1, 2, 5, 0x80000000, 0xFFFFFFFF};
        status = r.Percent(70) ? r.Pick(failures) : r.U32();
    }
    uint32_t result;
    if (rules.forKey) {
        const uint32_t roll = r.Below(100);
        const uint32_t needs = (uint32_t)strnlen(reinterpret_cast<const char*>(data.data()), data.size()) + 1;
        result = roll < 50   ? needs
                 : roll < 65 ? rules.capacity
                 : roll < 75 ? rules.capacity + 1
                 : roll < 85 ? 0
                             : (r.Percent(50) ? r.Below(400) : r.U32());
    } else {
        const uint32_t roll = r.Below(100);
        result = roll < 75 ? r.Range(0, 4) : roll < 90 ? r.Range(5, 64) : r.U32();
    }
    uint32_t size = kHeaderBytes + (uint32_t)data.size();
    const uint32_t roll = r.Below(100);
    if (roll < 8) {
        size = kHeaderBytes; // says no data, whatever follows
        a.recipe += ", says 16";
    } else if (roll < 18) {
        const uint32_t impossible[] = {0, 1, 15, kHeaderBytes + kLargestData + 1, 0x80000000, 0xFFFFFFFF};
        size = r.Pick(impossible);
        a.recipe += ", says " + std::to_string(size);
    } else if (roll < 25 && !data.empty()) {
        size = kHeaderBytes + r.Below((uint32_t)data.size()); // says less than it carries
        a.recipe += ", says " + std::to_string(size);
    } else if (roll < 30) {
        size = kHeaderBytes + (uint32_t)data.size() + r.Range(1, 64); // says more than it carries
        a.recipe += ", says " + std::to_string(size);
    }
    a.bytes.resize(kHeaderBytes);
    const uint32_t header[4] = {size, r.U32(), status, result};
    memcpy(a.bytes.data(), header, kHeaderBytes);
    a.bytes.insert(a.bytes.end(), data.begin(), data.end());
    a.recipe += ", status " + std::to_string(status) + ", result " + std::to_string(result);

    // Late, or cut short: only when allowed, as each waits out the whole budget.
    if (rules.maySlow && r.Percent(30)) {
        if (r.Percent(50)) {
            a.lateMs = r.Range(kBudgetMs + 100, kBudgetMs + 200);
            a.recipe += ", late " + std::to_string(a.lateMs) + " ms";
        } else {
            a.bytes.resize(r.Below((uint32_t)a.bytes.size()));
            a.recipe += ", cut to " + std::to_string(a.bytes.size());
        }
    }
    // Pieces: the whole at once, or cut at random with short pauses, well within the budget.
    if (r.Percent(30) && a.bytes.size() > 1) {
        size_t left = a.bytes.size();
        const uint32_t count = r.Range(2, 5);
        for (uint32_t i = 0; i + 1 < count && left > 1; ++i) {
            const size_t piece = r.Range(1, (uint32_t)left - 1);
            a.pieces.push_back(piece);
            left -= piece;
        }
        a.pieces.push_back(left);
        a.pauseMs = r.Range(1, 20);
        a.recipe += ", in " + std::to_string(a.pieces.size()) + " pieces";
    } else {
        a.pieces.push_back(a.bytes.size());
    }

    const Exchange e = Model(a);
    if ((e.slow && !rules.maySlow) || (e.overrun && !rules.mayOverrun)) {
        // Not allowed here: the plain answer instead.
        Answer fallback;
        fallback.bytes.resize(kHeaderBytes);
        const uint32_t exact[4] = {kHeaderBytes + (uint32_t)data.size(), 0, status, result};
        memcpy(fallback.bytes.data(), exact, kHeaderBytes);
        fallback.bytes.insert(fallback.bytes.end(), data.begin(), data.end());
        fallback.pieces.push_back(fallback.bytes.size());
        fallback.recipe = "plain, status " + std::to_string(status) + ", result " + std::to_string(result);
        return fallback;
    }
    return a;
}

// Serves one client after another, answering each request with the next planned answer.
class EnumFuzzServer {
public:
    EnumFuzzServer() : m_server("VCORE\\HWENUM") {
        m_thread = std::thread([this] { Serve(); });
    }
    ~EnumFuzzServer() {
        m_stop = true;
        m_thread.join();
    }
    bool Listening() const { return m_server.Listening(); }

    // The answers for the next client. Waits until the last client has gone and the
    // pipe takes the next one.
    bool Prepare(std::vector<Answer> answers, DWORD timeoutMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return m_accepting && !m_clientPresent; })) {
            return false;
        }
        m_plan.assign(answers.begin(), answers.end());
        m_requests.clear();
        m_written = 0;
        m_taken = 0;
        m_unplanned = 0;
        m_sessionsAtPrepare = m_sessions;
        return true;
    }
    // Waits until every answer taken so far has been written out.
    bool WaitAnswered(DWORD timeoutMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_written == m_taken; });
    }
    // Waits until the client has gone; the requests it made, and how many found no answer.
    bool WaitSessionEnd(DWORD timeoutMs, std::vector<EnumRequest>* requests, size_t* unplanned) {
        std::unique_lock<std::mutex> lock(m_mutex);
        const bool ended = m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                              [&] { return m_sessions > m_sessionsAtPrepare; });
        *requests = m_requests;
        *unplanned = m_unplanned;
        return ended;
    }

private:
    void Serve() {
        while (!m_stop) {
            if (!m_server.BeginAccept()) {
                Sleep(10);
                continue;
            }
            Set([&] { m_accepting = true; });
            if (!m_server.FinishAccept(20)) {
                continue;
            }
            Set([&] {
                m_accepting = false;
                m_clientPresent = true;
            });
            Session();
            m_server.Drop();
            Set([&] {
                m_clientPresent = false;
                ++m_sessions;
            });
        }
    }

    void Session() {
        for (;;) {
            std::vector<uint8_t> bytes = m_server.Read(kRequestBytes, 20);
            if (bytes.empty()) {
                if (m_stop || !m_server.ClientPresent()) {
                    return;
                }
                continue;
            }
            if (bytes.size() < kRequestBytes) {
                std::vector<uint8_t> rest = m_server.Read(kRequestBytes - bytes.size(), 500);
                bytes.insert(bytes.end(), rest.begin(), rest.end());
            }
            EnumRequest request = {};
            memcpy(&request, bytes.data(), bytes.size() < sizeof request ? bytes.size() : sizeof request);
            Answer answer;
            bool planned = false;
            Set([&] {
                m_requests.push_back(request);
                if (m_plan.empty()) {
                    ++m_unplanned;
                } else {
                    answer = m_plan.front();
                    m_plan.pop_front();
                    ++m_taken;
                    planned = true;
                }
            });
            if (bytes.size() < kRequestBytes) {
                return; // a torn request: the client has gone
            }
            if (!planned) {
                continue;
            }
            for (DWORD slept = 0; slept < answer.lateMs && !m_stop; slept += 10) {
                Sleep(10);
            }
            size_t at = 0;
            for (size_t i = 0; i < answer.pieces.size(); ++i) {
                if (i) {
                    Sleep(answer.pauseMs);
                }
                if (!m_server.Write(answer.bytes.data() + at, answer.pieces[i], 2000)) {
                    break; // the client gave up and left
                }
                at += answer.pieces[i];
            }
            Set([&] { ++m_written; });
        }
    }

    template <typename Change> void Set(Change change) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            change();
        }
        m_changed.notify_all();
    }

    FuzzPipeServer m_server;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_accepting = false;
    bool m_clientPresent = false;
    size_t m_sessions = 0;
    size_t m_sessionsAtPrepare = 0;
    std::deque<Answer> m_plan;
    std::vector<EnumRequest> m_requests;
    size_t m_taken = 0;
    size_t m_written = 0;
    size_t m_unplanned = 0;
    std::thread m_thread;
};

// One call of the requester and what it must give.
struct KeyCall {
    uint32_t index = 0;
    uint32_t capacity = 0;
    bool sends = false; // a request goes out
    bool slow = false;  // may take the whole budget
    bool given = false; // a key comes back
    std::string key;
    std::string recipe;
};

uint32_t RandomCapacity(FuzzRandom& r) {
    const uint32_t capacities[] = {0, 1, 2, 16, 64, 259, 260, 261};
    return r.Percent(60) ? r.Pick(capacities) : r.Range(1, 400);
}

struct Totals {
    size_t sessions = 0;
    size_t answers = 0;
    size_t keys = 0;
    size_t roots = 0;
    size_t slow = 0;
};

class EnumFuzz {
public:
    EnumFuzz(EnumFuzzServer& server, FuzzRandom& r, size_t slowAllowed)
        : m_server(server), m_r(r), m_slowLeft(slowAllowed) {}

    // Open, a few key requests, close.
    void RequesterSession(size_t number) {
        std::vector<Answer> plan;
        const Answer countAnswer = Next(false, 0, m_r.Percent(10));
        plan.push_back(countAnswer);
        const Exchange counted = Model(countAnswer);
        const bool opens = counted.answered && counted.status == 0;
        std::vector<KeyCall> calls;
        bool inStep = counted.answered;
        if (opens && !counted.overrun) {
            const uint32_t count = counted.result;
            const uint32_t callCount = m_r.Range(0, 4);
            for (uint32_t i = 0; i < callCount; ++i) {
                KeyCall call;
                call.index = count && m_r.Percent(80) ? m_r.Below(count < 6 ? count : 6)
                                                      : (m_r.Percent(50) ? count : m_r.U32());
                call.capacity = RandomCapacity(m_r);
                call.sends = inStep && call.index < count && call.capacity > 0;
                if (call.sends) {
                    const Answer answer = Next(true, call.capacity, i + 1 == callCount);
                    plan.push_back(answer);
                    const Exchange e = Model(answer);
                    call.slow = e.slow;
                    call.given = KeyGiven(e, call.capacity);
                    call.key = call.given ? KeyOf(e, call.capacity) : "";
                    call.recipe = answer.recipe;
                    inStep = e.answered;
                    calls.push_back(call);
                    if (e.overrun) {
                        break; // what the client makes of the rest depends on timing
                    }
                } else {
                    calls.push_back(call);
                }
            }
        }
        SCOPED_TRACE("requester session " + std::to_string(number) + " of seed " +
                     std::to_string(FuzzSeed()) + "; count answer: " + countAnswer.recipe + " " +
                     HexDump(countAnswer.bytes, 48));
        FuzzSetCurrentCase("enumeration session " + std::to_string(number) + ": " + countAnswer.recipe);
        ASSERT_TRUE(m_server.Prepare(plan, 5000)) << "the server did not get ready";

        ULONGLONG start = GetTickCount64();
        m_watchdog.Arm(10000, "OpenEnumerator");
        AdapterEnumerator* e = OpenEnumerator();
        m_watchdog.Disarm();
        CheckTime(GetTickCount64() - start, Model(countAnswer).slow, "the count request");
        EXPECT_EQ(e != nullptr, opens) << "a requester " << (opens ? "refused" : "made") << " on that answer";
        if (e && opens) {
            EXPECT_EQ(AdapterCount(e), counted.result);
            for (size_t i = 0; i < calls.size(); ++i) {
                const KeyCall& call = calls[i];
                SCOPED_TRACE("key request " + std::to_string(i) + " (index " + std::to_string(call.index) +
                             ", capacity " + std::to_string(call.capacity) + "): " + call.recipe);
                ASSERT_TRUE(m_server.WaitAnswered(5000)); // a late answer is in before the next request
                char* buffer = reinterpret_cast<char*>(m_page.Tail(call.capacity, kUntouched));
                start = GetTickCount64();
                m_watchdog.Arm(10000, "GetAdapterKey");
                const bool given = GetAdapterKey(e, call.index, buffer, call.capacity);
                m_watchdog.Disarm();
                CheckTime(GetTickCount64() - start, call.slow, "the key request");
                CheckKey(given, call.given, call.key, buffer, call.capacity);
            }
        }
        CloseEnumerator(e);
        CheckRequests(plan.size(), [&](size_t i, const EnumRequest& request) {
            if (i == 0) {
                return request.command == kEnumCmdGetAdapterCount && request.adapterIndex == 0 &&
                       request.capacity == 0;
            }
            // The key requests that went out, in order.
            size_t sent = 0;
            for (const KeyCall& call : calls) {
                if (call.sends && ++sent == i) {
                    return request.command == kEnumCmdGetAdapterKey && request.adapterIndex == call.index &&
                           request.capacity == call.capacity;
                }
            }
            return false;
        });
        ++m_totals.sessions;
        m_totals.keys += calls.size();
    }

    // What start-up does: the count, then the key of every adapter it can open.
    void RootSession(size_t number) {
        std::vector<Answer> plan;
        Answer countAnswer = Next(false, 0, false);
        if (countAnswer.bytes.size() >= kHeaderBytes && m_r.Percent(70)) {
            // A count worth asking keys for, up to absurd ones.
            const uint32_t counts[] = {1, 2, 3, 5, 6, 1000, 0x7FFFFFFF, 0xFFFFFFFF};
            const uint32_t count = m_r.Pick(counts);
            memcpy(countAnswer.bytes.data() + 12, &count, 4);
            const uint32_t ok = 0;
            memcpy(countAnswer.bytes.data() + 8, &ok, 4);
            countAnswer.recipe += ", made count " + std::to_string(count) + " status 0";
        }
        plan.push_back(countAnswer);
        const Exchange counted = Model(countAnswer);
        const bool opens = counted.answered && counted.status == 0;
        std::string root;
        std::string recipes;
        if (opens) {
            const uint32_t asked = counted.result < kAdaptersAsked ? counted.result : kAdaptersAsked;
            bool inStep = true;
            for (uint32_t i = 0; i < asked && inStep; ++i) {
                const Answer answer = Next(true, (uint32_t)kAdapterKeySize, false);
                plan.push_back(answer);
                recipes += " [" + answer.recipe + "]";
                const Exchange e = Model(answer);
                if (KeyGiven(e, kAdapterKeySize)) {
                    root = KeyOf(e, kAdapterKeySize);
                }
                inStep = e.answered;
            }
        }
        const uint32_t capacity = m_r.Percent(50) ? (uint32_t)kAdapterKeySize : m_r.Range(1, 300);
        if (root.size() >= capacity) {
            root.resize(capacity - 1);
        }
        SCOPED_TRACE("start-up session " + std::to_string(number) + " of seed " + std::to_string(FuzzSeed()) +
                     ", capacity " + std::to_string(capacity) + "; count answer: " + countAnswer.recipe +
                     "; key answers:" + recipes);
        FuzzSetCurrentCase("enumeration start-up session " + std::to_string(number) + ": " +
                           countAnswer.recipe);
        ASSERT_TRUE(m_server.Prepare(plan, 5000)) << "the server did not get ready";
        char* buffer = reinterpret_cast<char*>(m_page.Tail(capacity, kUntouched));
        // Every request gives up within its budget, and at most one waits it out: the
        // requester is of no more use after that.
        m_watchdog.Arm(kAdaptersAsked * 1000 + kGiveUpWithinMs + 5000, "FindAdapterRegistryRoot");
        FindAdapterRegistryRoot(buffer, capacity);
        m_watchdog.Disarm();
        ASSERT_LT(strnlen(buffer, capacity), capacity) << "the root is not terminated within the buffer";
        EXPECT_EQ(std::string(buffer), root) << "the registry root";
        CheckRequests(plan.size(), [&](size_t i, const EnumRequest& request) {
            return i == 0 ? request.command == kEnumCmdGetAdapterCount
                          : request.command == kEnumCmdGetAdapterKey && request.adapterIndex == i - 1 &&
                                request.capacity == kAdapterKeySize;
        });
        ++m_totals.roots;
    }

    const Totals& Counts() const { return m_totals; }

private:
    Answer Next(bool forKey, uint32_t capacity, bool mayOverrun) {
        AnswerRules rules;
        rules.forKey = forKey;
        rules.capacity = capacity;
        rules.maySlow = m_slowLeft > 0;
        rules.mayOverrun = mayOverrun;
        Answer answer = RandomAnswer(m_r, rules);
        if (Model(answer).slow) {
            --m_slowLeft;
            ++m_totals.slow;
        }
        ++m_totals.answers;
        return answer;
    }

    void CheckTime(ULONGLONG took, bool slow, const char* what) {
        if (slow) {
            EXPECT_LT(took, kGiveUpWithinMs) << what << " did not give up within its budget";
        } else {
            EXPECT_LT(took, kBudgetMs) << what << " waited out its budget on an answer that was there";
        }
    }

    void CheckKey(bool given, bool expected, const std::string& key, const char* buffer, uint32_t capacity) {
        EXPECT_EQ(given, expected) << (expected ? "no key for an answer that gives one"
                                                : "a key for a failure");
        if (!capacity) {
            return;
        }
        const size_t length = strnlen(buffer, capacity);
        if (given) {
            ASSERT_LT(length, capacity) << "the key is not terminated within the buffer";
            EXPECT_EQ(std::string(buffer, length), key);
        } else {
            // Left as it was, or an empty or terminated string: never a key of a failure.
            bool untouched = true;
            for (uint32_t i = 0; i < capacity; ++i) {
                untouched = untouched && (uint8_t)buffer[i] == kUntouched;
            }
            EXPECT_TRUE(untouched || length == 0)
                << "a failed request left \"" << std::string(buffer, length) << "\" in the buffer";
        }
    }

    template <typename Matches> void CheckRequests(size_t planned, Matches matches) {
        std::vector<EnumRequest> requests;
        size_t unplanned = 0;
        ASSERT_TRUE(m_server.WaitSessionEnd(5000, &requests, &unplanned)) << "the client did not leave";
        EXPECT_EQ(requests.size(), planned) << "requests sent";
        EXPECT_EQ(unplanned, 0u) << "requests beyond those the answers allow";
        for (size_t i = 0; i < requests.size() && i < planned; ++i) {
            EXPECT_EQ(requests[i].size, kRequestBytes) << "request " << i;
            EXPECT_TRUE(matches(i, requests[i]))
                << "request " << i << ": command " << requests[i].command << ", index "
                << requests[i].adapterIndex << ", capacity " << requests[i].capacity;
        }
    }

    EnumFuzzServer& m_server;
    FuzzRandom& m_r;
    size_t m_slowLeft;
    GuardedPage m_page;
    FuzzWatchdog m_watchdog;
    Totals m_totals;
};

Answer Exact(uint32_t status, uint32_t result, const std::string& data) {
    Answer a;
    const uint32_t header[4] = {kHeaderBytes + (uint32_t)data.size(), 0, status, result};
    a.bytes.resize(kHeaderBytes + data.size());
    memcpy(a.bytes.data(), header, kHeaderBytes);
    if (!data.empty()) {
        memcpy(a.bytes.data() + kHeaderBytes, data.data(), data.size());
    }
    a.pieces.push_back(a.bytes.size());
    return a;
}

// A service that claims four thousand million adapters once held start-up in a loop over
// all of them. Start-up asks for adapters 0 to 4 and keeps the last key.
TEST(DeviceLinkFuzz, AbsurdAdapterCountDoesNotHoldStartUp) {
    EnumFuzzServer server;
    ASSERT_TRUE(server.Listening());
    for (uint32_t count : {0xFFFFFFFFu, 1000u, 6u}) {
        SCOPED_TRACE(count);
        std::vector<Answer> plan = {Exact(0, count, "")};
        for (int i = 0; i < 5; ++i) {
            const std::string key = "SOFTWARE\\Velcora\\Adapter" + std::to_string(i);
            plan.push_back(Exact(0, (uint32_t)key.size() + 1, key + std::string(1, '\0')));
        }
        ASSERT_TRUE(server.Prepare(plan, 5000));
        char root[260] = "untouched";
        FuzzWatchdog watchdog;
        watchdog.Arm(20000, "FindAdapterRegistryRoot with " + std::to_string(count) + " adapters");
        FindAdapterRegistryRoot(root, sizeof root);
        watchdog.Disarm();
        EXPECT_STREQ(root, "SOFTWARE\\Velcora\\Adapter4");
        std::vector<EnumRequest> requests;
        size_t unplanned = 0;
        ASSERT_TRUE(server.WaitSessionEnd(5000, &requests, &unplanned));
        ASSERT_EQ(requests.size(), 6u) << "the count and the keys of adapters 0 to 4";
        EXPECT_EQ(unplanned, 0u);
        for (uint32_t i = 1; i < 6; ++i) {
            EXPECT_EQ(requests[i].command, 2u);
            EXPECT_EQ(requests[i].adapterIndex, i - 1);
        }
    }
}

TEST(DeviceLinkFuzz, EnumerationAnswers) {
    FuzzRandom r = FuzzStream("enumeration answers");
    FuzzBudget budget(48);
    // Answers that come late or cut short each cost the whole budget: a few per run (one
    // in 24 sessions, or in 24 s of a timed run).
    const size_t slowAllowed = FuzzSecondsAsked() > 0   ? (size_t)(FuzzSecondsAsked() / 24) + 2
                               : FuzzCases(48) / 24 > 2 ? FuzzCases(48) / 24
                                                        : 2;
    const ULONGLONG start = GetTickCount64();
    EnumFuzzServer server;
    ASSERT_TRUE(server.Listening());
    EnumFuzz fuzz(server, r, slowAllowed);
    while (budget.More() && !::testing::Test::HasFailure()) {
        const size_t i = budget.Done() - 1;
        if (r.Percent(25)) {
            fuzz.RootSession(i);
        } else {
            fuzz.RequesterSession(i);
        }
    }
    const Totals& totals = fuzz.Counts();
    FuzzReport("enumeration answers", budget.Done(), FuzzSecondsSince(start),
               std::to_string(totals.answers) + " answers (" + std::to_string(totals.slow) +
                   " late or cut short), " + std::to_string(totals.keys) + " key requests, " +
                   std::to_string(totals.roots) + " start-up searches");
}

} // namespace
