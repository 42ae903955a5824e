// The recorder driver's side of "ovrecagentDevice0", without any pipe: the requests the
// agent's call recorder sends, checked against their layout, the driver's answers, the
// records it hands out, and the WAV files whose samples a script queues as a call's
// audio. Plain data; the endpoint (RecorderEndpoint_win.h) serves it over the pipe.
//
// A request (after the pipe's 4-byte control code 0x222000) is one buffer: a 32-byte
// header (command, data length, 0, result sent as -1, four parameters) and the data.
// The layouts the driver accepts:
//   0xF004 register         param 0 = 0; 148 bytes: 1, 1, 0, 0, a 128-byte zero-filled
//                           name area holding "VCLCTRL", 4 bytes for the registration
//   0xF005 unregister       param 0 = the registration; no data
//   0xF006 choose channels  param 0 = the registration; 144 bytes: 1, count, 0, 0, then
//                           the name area: "VCLCTRL" (count 1) or "VCLCTRL" and "VCLOG"
//                           at 8 (count 2), each with its zero, zeros after
//   0xF003 read             param 0 = the registration; 32000 bytes
// Parameters 1 to 3 are always 0. Anything else is a violation.
//
// A record: channel name in 8 bytes, 1 at offset 8 (valid), a sequence number at 12, the
// payload length at 20, then at 40 the payload (VCLCTRL: the 32-bit call event; VCLOG:
// samples).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvin::sim {

constexpr const char* kRecorderPipeName = "ovrecagentDevice0";
constexpr uint32_t kRecorderIoctl = 0x222000;
constexpr uint32_t kRecCmdRead = 0xF003;
constexpr uint32_t kRecCmdRegister = 0xF004;
constexpr uint32_t kRecCmdUnregister = 0xF005;
constexpr uint32_t kRecCmdChooseChannels = 0xF006;
constexpr uint32_t kRecRequestHeader = 32;
constexpr uint32_t kRecReadSize = 32000;
constexpr uint32_t kRecRegisterSize = 148;
constexpr uint32_t kRecChannelsSize = 144;
constexpr uint32_t kRecNameArea = 128;
constexpr uint32_t kRecRecordHeader = 40;
constexpr uint32_t kRecMaxPayload = kRecReadSize - kRecRecordHeader; // fits one read
constexpr int32_t kRecStatusOk = 0;
constexpr int32_t kRecStatusFailed = (int32_t)0xC0000001;     // STATUS_UNSUCCESSFUL
constexpr int32_t kRecStatusBadRequest = (int32_t)0xC0000010; // STATUS_INVALID_DEVICE_REQUEST
constexpr uint32_t kRecAudioBytesPerSecond = 19200;           // 9600 samples of 16 bits

enum class RecChannels { None, Control, ControlAndAudio };
const char* ChannelsName(RecChannels channels);

// A request as the driver reads it.
struct RecRequest {
    uint32_t ioctl = 0;
    uint32_t command = 0;
    uint32_t length = 0;
    uint32_t reserved = 0;
    int32_t status = 0;
    uint32_t param[4] = {};
    std::vector<uint8_t> data;
};

// Splits a pipe message into the request. False (with *fault) when it is shorter than the
// control code and header.
bool ParseRecRequest(const std::vector<uint8_t>& message, RecRequest* request, std::string* fault);

// The layout checks of one request against the driver's state: `registration` is the
// connection's registration (-1 when none). Each fault found is appended to *faults.
// For a channel choice *channels is set to what it asks for.
void CheckRecRequest(const RecRequest& request, int32_t registration, std::vector<std::string>* faults,
                     RecChannels* channels);

// The answer's buffer: the request's header with the data length and result set, then
// `data` (padded with zeros to the request's length).
std::vector<uint8_t> RecReply(const RecRequest& request, int32_t status, uint32_t returnedLength,
                              const std::vector<uint8_t>& data);

// One record.
std::vector<uint8_t> PackRecRecord(const char* channel, uint32_t valid, uint32_t sequence,
                                   const std::vector<uint8_t>& payload);
// A control record for call event `event`; `payloadLength` (4 normally) cuts or pads the
// payload.
std::vector<uint8_t> PackRecEvent(uint32_t event, uint32_t valid, uint32_t payloadLength, uint32_t sequence);

// The samples of a WAV file the driver can deliver: PCM, 16 bits, mono, 9600 per second.
// False with *error for anything else, or a file that can not be read.
bool ReadRecorderWav(const std::string& path, std::vector<uint8_t>* samples, std::string* error);

} // namespace orvin::sim
