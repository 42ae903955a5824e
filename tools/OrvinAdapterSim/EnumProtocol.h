// The service's side of the adapter enumeration ("VCORE\HWENUM"): how the stand-in
// answers one 16-byte request (size 16, command, adapter index, capacity). The answer is
// a 16-byte header (total size, 0, status, result) and, for a key, the key as a
// NUL-terminated string:
//   command 1: status 0, result = adapter count
//   command 2: index below the count and capacity enough: status 0, result = the key's
//              length with its NUL, the key follows; capacity too small: status 0, that
//              length, no data; index out of range: status 1, result 0
//   any other command, or a size other than 16: status 1, result 0
// Answers can be held back (all of them, or key answers only) to play a service that
// misses the agent's one-second budget.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvin::sim {

constexpr uint32_t kEnumRequestBytes = 16;
constexpr uint32_t kEnumCommandCount = 1;
constexpr uint32_t kEnumCommandKey = 2;

struct EnumConfig {
    std::vector<std::string> keys; // one per adapter: the count is keys.size()
    uint32_t delayMs = 0;
    uint32_t keyDelayMs = 0;
};

// The answer to one request, and a line for the log saying what was asked and answered.
std::vector<uint8_t> AnswerEnumRequest(const EnumConfig& config, const uint8_t request[kEnumRequestBytes],
                                       std::string* note);

} // namespace orvin::sim
