// The adapter stand-in's recorder driver without its pipe: the layout checks it makes of
// every request, the records it hands out, the WAV files it takes as a call's audio, and
// its script words. The layouts are written out here as the driver defines them.
#include "OrvinAdapterSim/RecorderProtocol.h"
#include "OrvinAdapterSim/ScriptParser.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace orvin::sim;

namespace {

// A request as it arrives on the pipe: control code, header, data.
std::vector<uint8_t> Message(uint32_t command, std::vector<uint8_t> data, uint32_t param0,
                             uint32_t ioctl = 0x222000, int32_t status = -1) {
    std::vector<uint8_t> bytes(4 + 32 + data.size(), 0);
    auto put = [&](size_t at, uint32_t value) { memcpy(bytes.data() + at, &value, 4); };
    put(0, ioctl);
    put(4, command);
    put(8, (uint32_t)data.size());
    put(16, (uint32_t)status);
    put(20, param0);
    if (!data.empty()) {
        memcpy(bytes.data() + 36, data.data(), data.size());
    }
    return bytes;
}

std::vector<uint8_t> RegisterData() {
    std::vector<uint8_t> data(148, 0);
    data[0] = 1;
    data[4] = 1;
    memcpy(data.data() + 16, "VCLCTRL", 7);
    return data;
}

std::vector<uint8_t> ChannelData(bool audio) {
    std::vector<uint8_t> data(144, 0);
    data[0] = 1;
    data[4] = audio ? 2 : 1;
    memcpy(data.data() + 16, "VCLCTRL", 7);
    if (audio) {
        memcpy(data.data() + 24, "VCLOG", 5);
    }
    return data;
}

std::vector<std::string> Faults(const std::vector<uint8_t>& message, int32_t registration,
                                RecChannels* channels = nullptr) {
    RecRequest request;
    std::string fault;
    EXPECT_TRUE(ParseRecRequest(message, &request, &fault)) << fault;
    std::vector<std::string> faults;
    CheckRecRequest(request, registration, &faults, channels);
    return faults;
}

std::string All(const std::vector<std::string>& faults) {
    std::string text;
    for (const std::string& fault : faults) {
        text += fault + "\n";
    }
    return text;
}

std::string TempFile(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + name;
}

void WriteWav(const std::string& path, uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits,
              const std::vector<uint8_t>& samples, uint32_t claimedData = UINT32_MAX) {
    std::vector<uint8_t> file(44, 0);
    auto put32 = [&](size_t at, uint32_t value) { memcpy(file.data() + at, &value, 4); };
    auto put16 = [&](size_t at, uint16_t value) { memcpy(file.data() + at, &value, 2); };
    memcpy(file.data(), "RIFF", 4);
    put32(4, 36 + (uint32_t)samples.size());
    memcpy(file.data() + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, format);
    put16(22, channels);
    put32(24, rate);
    put32(28, rate * channels * bits / 8);
    put16(32, (uint16_t)(channels * bits / 8));
    put16(34, bits);
    memcpy(file.data() + 36, "data", 4);
    put32(40, claimedData == UINT32_MAX ? (uint32_t)samples.size() : claimedData);
    file.insert(file.end(), samples.begin(), samples.end());
    std::ofstream(path, std::ios::binary).write((const char*)file.data(), (std::streamsize)file.size());
}

TEST(RecorderDriverSimTest, RequestsInTheirLayoutPassAndEveryDeviationIsNamed) {
    RecChannels channels = RecChannels::None;
    EXPECT_EQ(All(Faults(Message(0xF004, RegisterData(), 0), -1)), "");
    EXPECT_EQ(All(Faults(Message(0xF006, ChannelData(true), 0x100), 0x100, &channels)), "");
    EXPECT_EQ(channels, RecChannels::ControlAndAudio);
    EXPECT_EQ(All(Faults(Message(0xF006, ChannelData(false), 0x100), 0x100, &channels)), "");
    EXPECT_EQ(channels, RecChannels::Control);
    EXPECT_EQ(All(Faults(Message(0xF003, std::vector<uint8_t>(32000), 0x100), 0x100)), "");
    EXPECT_EQ(All(Faults(Message(0xF005, {}, 0x100), 0x100)), "");

    struct Case {
        std::vector<uint8_t> message;
        int32_t registration;
        const char* fault;
    };
    std::vector<uint8_t> badName = RegisterData();
    memcpy(badName.data() + 16, "VCLCTRX", 7);
    std::vector<uint8_t> junkAfterName = RegisterData();
    junkAfterName[16 + 100] = 'x';
    std::vector<uint8_t> badWord = RegisterData();
    badWord[8] = 3;
    std::vector<uint8_t> audioElsewhere = ChannelData(true);
    memset(audioElsewhere.data() + 24, 0, 8);
    memcpy(audioElsewhere.data() + 32, "VCLOG", 5);
    std::vector<uint8_t> badCount = ChannelData(true);
    badCount[4] = 3;
    std::vector<uint8_t> reserved = Message(0xF003, std::vector<uint8_t>(32000), 0x100);
    reserved[12] = 1;
    std::vector<uint8_t> param3 = Message(0xF003, std::vector<uint8_t>(32000), 0x100);
    param3[32] = 9;
    std::vector<uint8_t> lengthLie = Message(0xF005, {}, 0x100);
    lengthLie[8] = 4;
    const Case cases[] = {
        {Message(0xF004, RegisterData(), 0, 0x222004), -1,
         "register (0xF004): control code 0x222004, not 0x222000"},
        {Message(0xF004, RegisterData(), 0, 0x222000, 0), -1,
         "register (0xF004): the result is sent as 0x0, not -1"},
        {Message(0xF004, RegisterData(), 5), -1, "register (0xF004): parameter 0 is 0x5, not 0"},
        {Message(0xF004, RegisterData(), 0), 0x100,
         "register (0xF004): registered again without giving back the registration 0x100"},
        {Message(0xF004, std::vector<uint8_t>(144), 0), -1, "register (0xF004): 144 data bytes, not 148"},
        {Message(0xF004, badName, 0), -1,
         "register (0xF004): the name area is \"VCLCTRX\", not \"VCLCTRL\" followed by zeros"},
        {Message(0xF004, junkAfterName, 0), -1, "register (0xF004): the name area is \"VCLCTRL"},
        {Message(0xF004, badWord, 0), -1, "register (0xF004): data word 2 is 0x3, not 0x0"},
        {Message(0xF006, audioElsewhere, 0x100), 0x100, "choose channels (0xF006): the name area is"},
        {Message(0xF006, badCount, 0x100), 0x100, "choose channels (0xF006): data word 1 is 0x3, not 0x1"},
        {Message(0xF006, ChannelData(true), 0x101), 0x100,
         "choose channels (0xF006): parameter 0 is 0x101, not the registration 0x100"},
        {Message(0xF003, std::vector<uint8_t>(32000), 0), -1, "read (0xF003): sent without a registration"},
        {Message(0xF003, std::vector<uint8_t>(16000), 0x100), 0x100,
         "read (0xF003): 16000 data bytes, not 32000"},
        {reserved, 0x100, "read (0xF003): header bytes 8..11 hold 0x1, not 0"},
        {param3, 0x100, "read (0xF003): parameter 3 is 0x9, not 0"},
        {lengthLie, 0x100, "unregister (0xF005): the header says 4 data bytes, 0 came"},
        {Message(0xF007, {}, 0x100), 0x100, "unknown command (0xF007): not a command of the recorder driver"},
    };
    for (const Case& c : cases) {
        const std::string faults = All(Faults(c.message, c.registration));
        EXPECT_NE(faults.find(c.fault), std::string::npos) << "expected: " << c.fault << "\ngot: " << faults;
    }

    RecRequest request;
    std::string fault;
    EXPECT_FALSE(ParseRecRequest(std::vector<uint8_t>(35), &request, &fault));
    EXPECT_EQ(fault, "a request of 35 bytes: shorter than the control code and the 32-byte header");
}

TEST(RecorderDriverSimTest, RepliesRecordsAndWavFilesAreTheDriversOwn) {
    RecRequest request;
    std::string fault;
    ASSERT_TRUE(ParseRecRequest(Message(0xF003, std::vector<uint8_t>(32000, 0xAA), 0x100), &request, &fault));
    const std::vector<uint8_t> reply = RecReply(request, 0, 3, {1, 2, 3});
    ASSERT_EQ(reply.size(), 32u + 32000u) << "the whole buffer comes back";
    uint32_t header[8];
    memcpy(header, reply.data(), 32);
    EXPECT_EQ(header[0], 0xF003u);
    EXPECT_EQ(header[1], 3u);
    EXPECT_EQ(header[3], 0u);
    EXPECT_EQ(header[4], 0x100u);
    EXPECT_EQ(reply[32], 1);
    EXPECT_EQ(reply[35], 0) << "the rest of the buffer is zeros";

    const std::vector<uint8_t> event = PackRecEvent(4, 1, 4, 77);
    ASSERT_EQ(event.size(), 44u);
    EXPECT_EQ(std::string((const char*)event.data(), 8), std::string("VCLCTRL\0", 8));
    uint32_t words[11];
    memcpy(words, event.data(), 44);
    EXPECT_EQ(words[2], 1u);  // valid, at 8
    EXPECT_EQ(words[3], 77u); // sequence, at 12
    EXPECT_EQ(words[5], 4u);  // payload length, at 20
    EXPECT_EQ(words[10], 4u); // the event, at 40
    EXPECT_EQ(PackRecEvent(1, 1, 3, 1).size(), 43u) << "a payload cut to 3 bytes";
    const std::vector<uint8_t> audio = PackRecRecord("VCLOG", 0, 5, {9, 8, 7, 6});
    EXPECT_EQ(std::string((const char*)audio.data(), 8), std::string("VCLOG\0\0\0", 8));
    EXPECT_EQ(audio.size(), 44u);

    // WAV files: PCM, mono, 16 bits, 9600 a second only; the samples as they are.
    const std::string path = TempFile("orvin-recorder-sim-test.wav");
    const std::vector<uint8_t> samples = {1, 0, 2, 0, 3, 0, 0xFF, 0x7F};
    std::vector<uint8_t> read;
    WriteWav(path, 1, 1, 9600, 16, samples);
    EXPECT_TRUE(ReadRecorderWav(path, &read, &fault)) << fault;
    EXPECT_EQ(read, samples);
    WriteWav(path, 1, 1, 9600, 16, samples, 1000000); // sizes never written: what is there
    EXPECT_TRUE(ReadRecorderWav(path, &read, &fault)) << fault;
    EXPECT_EQ(read, samples);
    WriteWav(path, 1, 1, 8000, 16, samples);
    EXPECT_FALSE(ReadRecorderWav(path, &read, &fault));
    EXPECT_NE(fault.find("format 1, 1 channel(s), 16 bits, 8000 per second"), std::string::npos) << fault;
    WriteWav(path, 1, 2, 9600, 16, samples);
    EXPECT_FALSE(ReadRecorderWav(path, &read, &fault));
    WriteWav(path, 3, 1, 9600, 16, samples);
    EXPECT_FALSE(ReadRecorderWav(path, &read, &fault));
    std::ofstream(path, std::ios::binary) << "RIFX";
    EXPECT_FALSE(ReadRecorderWav(path, &read, &fault));
    EXPECT_NE(fault.find("is not a RIFF WAVE file"), std::string::npos);
    DeleteFileA(path.c_str());
    EXPECT_FALSE(ReadRecorderWav(path, &read, &fault));
    EXPECT_NE(fault.find("can not read"), std::string::npos);
}

TEST(RecorderDriverSimTest, ScriptWordsOfTheRecorderDriver) {
    std::vector<ScriptCommand> commands;
    std::vector<ScriptError> errors;
    ASSERT_TRUE(ParseScript("rec-expect-register timeout=3000\n"
                            "rec-expect-channels VCLCTRL,VCLOG\n"
                            "rec-event 3\n"
                            "rec-event 1 valid=0 length=3\n"
                            "rec-audio Z:\\calls\\one.wav chunk=1920 pace=realtime\n"
                            "rec-audio \"C:\\\\my calls\\\\two.wav\"\n"
                            "rec-raw 56 43 4c\n"
                            "rec-fault overclaim\n"
                            "rec-drain\n"
                            "rec-report\n"
                            "rec-remove 1500\n"
                            "rec-expect-unregister\n",
                            kSimCommands, &commands, &errors))
        << (errors.empty() ? "" : FormatScriptError(errors[0]));
    ASSERT_EQ(commands.size(), 12u);
    EXPECT_EQ(commands[0].timeoutMs, 3000u);
    EXPECT_EQ(commands[1].word, "VCLCTRL,VCLOG");
    EXPECT_EQ(commands[1].timeoutMs, 10000u);
    EXPECT_EQ(commands[2].recEvent, 3u);
    EXPECT_EQ(commands[2].recValid, 1u);
    EXPECT_EQ(commands[2].recLength, 4u);
    EXPECT_EQ(commands[3].recValid, 0u);
    EXPECT_EQ(commands[3].recLength, 3u);
    EXPECT_EQ(commands[4].path, "Z:\\calls\\one.wav");
    EXPECT_EQ(commands[4].chunk, 1920u);
    EXPECT_TRUE(commands[4].realtime);
    EXPECT_EQ(commands[5].path, "C:\\my calls\\two.wav");
    EXPECT_EQ(commands[5].chunk, 960u);
    EXPECT_FALSE(commands[5].realtime);
    EXPECT_EQ(commands[6].raw, std::vector<uint8_t>({0x56, 0x43, 0x4C}));
    EXPECT_EQ(commands[7].word, "overclaim");
    EXPECT_EQ(commands[10].ms, 1500u);

    const struct {
        const char* line;
        const char* error;
    } bad[] = {
        {"rec-expect-channels VCLOG",
         "rec-expect-channels: unknown channels 'VCLOG' (VCLCTRL or VCLCTRL,VCLOG)"},
        {"rec-event", "rec-event: needs the call event (a number)"},
        {"rec-event x", "rec-event: bad call event 'x'"},
        {"rec-event 1 length=40000", "rec-event: bad value '40000' for length (0 to 31960 bytes)"},
        {"rec-audio a.wav chunk=31962", "rec-audio: bad value '31962' for chunk (2 to 31960 bytes)"},
        {"rec-audio a.wav chunk=961", "rec-audio: chunk must be a whole number of 16-bit samples"},
        {"rec-audio a.wav pace=slow", "rec-audio: bad value 'slow' for pace (fast or realtime)"},
        {"rec-fault sometimes",
         "rec-fault: unknown mode 'sometimes' (none, silent, fail, long, overclaim or transient)"},
        {"rec-raw 5", "rec-raw: odd number of hex digits"},
        {"rec-remove", "rec-remove: needs a time in milliseconds"},
        {"rec-report now", "rec-report: unexpected 'now'"},
    };
    for (const auto& c : bad) {
        std::optional<ScriptCommand> command;
        std::string error;
        EXPECT_FALSE(ParseScriptLine(c.line, 1, kSimCommands, &command, &error)) << c.line;
        EXPECT_EQ(error, c.error) << c.line;
    }
    // The probe on the agent's side has no recorder driver.
    std::optional<ScriptCommand> command;
    std::string error;
    EXPECT_FALSE(ParseScriptLine("rec-event 1", 1, kProbeCommands, &command, &error));
}

} // namespace
