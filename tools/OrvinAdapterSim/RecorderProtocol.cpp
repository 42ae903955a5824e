#include "RecorderProtocol.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace orvin::sim {

namespace {

uint32_t U32(const uint8_t* bytes) {
    uint32_t value;
    memcpy(&value, bytes, sizeof value);
    return value;
}

uint16_t U16(const uint8_t* bytes) {
    uint16_t value;
    memcpy(&value, bytes, sizeof value);
    return value;
}

void Put32(std::vector<uint8_t>* bytes, size_t at, uint32_t value) {
    memcpy(bytes->data() + at, &value, sizeof value);
}

std::string Hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// The name area as it must be: the names one after another, each with its zero, then
// zeros.
std::vector<uint8_t> NameArea(RecChannels channels) {
    std::vector<uint8_t> area(kRecNameArea, 0);
    memcpy(area.data(), "VCLCTRL", 7);
    if (channels == RecChannels::ControlAndAudio) {
        memcpy(area.data() + 8, "VCLOG", 5);
    }
    return area;
}

// Text of the first bytes of an area, for a fault message.
std::string Quoted(const uint8_t* bytes, size_t size) {
    std::string text = "\"";
    for (size_t i = 0; i < size; ++i) {
        char c = (char)bytes[i];
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            text += c;
        } else {
            char escape[8];
            snprintf(escape, sizeof escape, "\\x%02X", bytes[i]);
            text += escape;
        }
    }
    // Trailing zeros say nothing.
    while (text.size() >= 4 && text.compare(text.size() - 4, 4, "\\x00") == 0) {
        text.erase(text.size() - 4);
    }
    return text + "\"";
}

const char* CommandName(uint32_t command) {
    switch (command) {
    case kRecCmdRead:
        return "read";
    case kRecCmdRegister:
        return "register";
    case kRecCmdUnregister:
        return "unregister";
    case kRecCmdChooseChannels:
        return "choose channels";
    default:
        return "unknown command";
    }
}

} // namespace

const char* ChannelsName(RecChannels channels) {
    switch (channels) {
    case RecChannels::Control:
        return "VCLCTRL";
    case RecChannels::ControlAndAudio:
        return "VCLCTRL,VCLOG";
    default:
        return "none";
    }
}

bool ParseRecRequest(const std::vector<uint8_t>& message, RecRequest* request, std::string* fault) {
    if (message.size() < 4 + kRecRequestHeader) {
        *fault = "a request of " + std::to_string(message.size()) +
                 " bytes: shorter than the control code and " + "the 32-byte header";
        return false;
    }
    const uint8_t* bytes = message.data();
    request->ioctl = U32(bytes);
    request->command = U32(bytes + 4);
    request->length = U32(bytes + 8);
    request->reserved = U32(bytes + 12);
    request->status = (int32_t)U32(bytes + 16);
    for (int i = 0; i < 4; ++i) {
        request->param[i] = U32(bytes + 20 + 4 * i);
    }
    request->data.assign(message.begin() + 4 + kRecRequestHeader, message.end());
    return true;
}

void CheckRecRequest(const RecRequest& request, int32_t registration, std::vector<std::string>* faults,
                     RecChannels* channels) {
    const std::string what = std::string(CommandName(request.command)) + " (" + Hex(request.command) + ")";
    auto fault = [&](const std::string& text) { faults->push_back(what + ": " + text); };
    if (request.ioctl != kRecorderIoctl) {
        fault("control code " + Hex(request.ioctl) + ", not 0x222000");
    }
    if (request.length != request.data.size()) {
        fault("the header says " + std::to_string(request.length) + " data bytes, " +
              std::to_string(request.data.size()) + " came");
    }
    if (request.reserved != 0) {
        fault("header bytes 8..11 hold " + Hex(request.reserved) + ", not 0");
    }
    if (request.status != -1) {
        fault("the result is sent as " + Hex((uint32_t)request.status) + ", not -1");
    }
    for (int i = 1; i < 4; ++i) {
        if (request.param[i] != 0) {
            fault("parameter " + std::to_string(i) + " is " + Hex(request.param[i]) + ", not 0");
        }
    }
    const std::vector<uint8_t>& data = request.data;
    auto expectRegistration = [&] {
        if (registration < 0) {
            fault("sent without a registration (parameter 0 " + Hex(request.param[0]) + ")");
        } else if (request.param[0] != (uint32_t)registration) {
            fault("parameter 0 is " + Hex(request.param[0]) + ", not the registration " +
                  Hex((uint32_t)registration));
        }
    };
    auto expectSize = [&](uint32_t size) {
        if (data.size() != size) {
            fault(std::to_string(data.size()) + " data bytes, not " + std::to_string(size));
            return false;
        }
        return true;
    };
    auto expectWords = [&](uint32_t first, uint32_t second) {
        const uint32_t words[4] = {U32(data.data()), U32(data.data() + 4), U32(data.data() + 8),
                                   U32(data.data() + 12)};
        const uint32_t wanted[4] = {first, second, 0, 0};
        for (int i = 0; i < 4; ++i) {
            if (words[i] != wanted[i]) {
                fault("data word " + std::to_string(i) + " is " + Hex(words[i]) + ", not " + Hex(wanted[i]));
            }
        }
    };
    switch (request.command) {
    case kRecCmdRegister:
        if (request.param[0] != 0) {
            fault("parameter 0 is " + Hex(request.param[0]) + ", not 0");
        }
        if (registration >= 0) {
            fault("registered again without giving back the registration " + Hex((uint32_t)registration));
        }
        if (expectSize(kRecRegisterSize)) {
            expectWords(1, 1);
            if (memcmp(data.data() + 16, NameArea(RecChannels::Control).data(), kRecNameArea) != 0) {
                fault("the name area is " + Quoted(data.data() + 16, kRecNameArea) +
                      ", not \"VCLCTRL\" followed by zeros");
            }
        }
        break;
    case kRecCmdUnregister:
        expectRegistration();
        expectSize(0);
        break;
    case kRecCmdChooseChannels:
        expectRegistration();
        if (expectSize(kRecChannelsSize)) {
            const uint32_t count = U32(data.data() + 4);
            expectWords(1, count == 1 || count == 2 ? count : 1);
            const RecChannels asked = count == 2 ? RecChannels::ControlAndAudio : RecChannels::Control;
            if ((count == 1 || count == 2) &&
                memcmp(data.data() + 16, NameArea(asked).data(), kRecNameArea) != 0) {
                fault("the name area is " + Quoted(data.data() + 16, kRecNameArea) + ", not " +
                      (count == 2 ? "\"VCLCTRL\" and \"VCLOG\" at 8" : "\"VCLCTRL\"") + " followed by zeros");
            }
            if (channels && (count == 1 || count == 2)) {
                *channels = asked;
            }
        }
        break;
    case kRecCmdRead:
        expectRegistration();
        expectSize(kRecReadSize);
        break;
    default:
        fault("not a command of the recorder driver");
        break;
    }
}

std::vector<uint8_t> RecReply(const RecRequest& request, int32_t status, uint32_t returnedLength,
                              const std::vector<uint8_t>& data) {
    std::vector<uint8_t> reply(kRecRequestHeader + request.data.size(), 0);
    Put32(&reply, 0, request.command);
    Put32(&reply, 4, returnedLength);
    Put32(&reply, 8, request.reserved);
    Put32(&reply, 12, (uint32_t)status);
    for (int i = 0; i < 4; ++i) {
        Put32(&reply, 16 + 4 * i, request.param[i]);
    }
    memcpy(reply.data() + kRecRequestHeader, data.data(),
           data.size() < request.data.size() ? data.size() : request.data.size());
    return reply;
}

std::vector<uint8_t> PackRecRecord(const char* channel, uint32_t valid, uint32_t sequence,
                                   const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> record(kRecRecordHeader + payload.size(), 0);
    memcpy(record.data(), channel, strnlen(channel, 8));
    Put32(&record, 8, valid);
    Put32(&record, 12, sequence);
    Put32(&record, 20, (uint32_t)payload.size());
    if (!payload.empty()) {
        memcpy(record.data() + kRecRecordHeader, payload.data(), payload.size());
    }
    return record;
}

std::vector<uint8_t> PackRecEvent(uint32_t event, uint32_t valid, uint32_t payloadLength, uint32_t sequence) {
    std::vector<uint8_t> payload(payloadLength, 0);
    memcpy(payload.data(), &event, payloadLength < 4 ? payloadLength : 4);
    return PackRecRecord("VCLCTRL", valid, sequence, payload);
}

bool ReadRecorderWav(const std::string& path, std::vector<uint8_t>* samples, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "can not read " + path;
        return false;
    }
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 12 || memcmp(file.data(), "RIFF", 4) != 0 || memcmp(file.data() + 8, "WAVE", 4) != 0) {
        *error = path + " is not a RIFF WAVE file";
        return false;
    }
    bool haveFormat = false;
    size_t at = 12;
    while (at + 8 <= file.size()) {
        const uint32_t size = U32(file.data() + at + 4);
        const uint8_t* body = file.data() + at + 8;
        const size_t left = file.size() - at - 8;
        if (memcmp(file.data() + at, "fmt ", 4) == 0) {
            if (size < 16 || left < 16) {
                *error = path + ": the fmt chunk is cut short";
                return false;
            }
            const uint16_t format = U16(body), channels = U16(body + 2), bits = U16(body + 14);
            const uint32_t rate = U32(body + 4);
            if (format != 1 || channels != 1 || bits != 16 || rate != 9600) {
                *error = path + ": format " + std::to_string(format) + ", " + std::to_string(channels) +
                         " channel(s), " + std::to_string(bits) + " bits, " + std::to_string(rate) +
                         " per second; the driver delivers PCM, 1 channel, 16 bits, 9600 per second";
                return false;
            }
            haveFormat = true;
        } else if (memcmp(file.data() + at, "data", 4) == 0) {
            if (!haveFormat) {
                *error = path + ": the data chunk comes before the fmt chunk";
                return false;
            }
            // A data size past the file's end (a recording never finished) takes what is there.
            const size_t taken = size <= left ? size : left;
            samples->assign(body, body + taken);
            return true;
        }
        at += 8 + (size_t)size + (size & 1);
    }
    *error = path + " has no data chunk";
    return false;
}

} // namespace orvin::sim
