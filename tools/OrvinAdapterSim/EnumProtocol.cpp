#include "EnumProtocol.h"

#include <cstring>

namespace orvin::sim {

std::vector<uint8_t> AnswerEnumRequest(const EnumConfig& config, const uint8_t request[16],
                                       std::string* note) {
    uint32_t fields[4];
    memcpy(fields, request, sizeof fields);
    const uint32_t command = fields[1], index = fields[2], capacity = fields[3];
    const uint32_t count = (uint32_t)config.keys.size();
    uint32_t status = 1, result = 0;
    std::string data;
    if (fields[0] != kEnumRequestBytes) {
        *note = "request with size " + std::to_string(fields[0]) + " refused";
    } else if (command == kEnumCommandCount) {
        status = 0;
        result = count;
        *note = "count -> " + std::to_string(count);
    } else if (command == kEnumCommandKey && index < count) {
        status = 0;
        result = (uint32_t)config.keys[index].size() + 1;
        if (capacity >= result) {
            data = config.keys[index];
            data += '\0';
            *note = "key " + std::to_string(index) + " (capacity " + std::to_string(capacity) + ") -> \"" +
                    config.keys[index] + "\"";
        } else {
            *note = "key " + std::to_string(index) + " (capacity " + std::to_string(capacity) +
                    ") -> too small, needs " + std::to_string(result);
        }
    } else if (command == kEnumCommandKey) {
        *note = "key " + std::to_string(index) + " -> no such adapter";
    } else {
        *note = "unknown command " + std::to_string(command);
    }
    const uint32_t header[4] = {(uint32_t)(16 + data.size()), 0, status, result};
    std::vector<uint8_t> answer(sizeof header + data.size());
    memcpy(answer.data(), header, sizeof header);
    memcpy(answer.data() + sizeof header, data.data(), data.size());
    return answer;
}

} // namespace orvin::sim
