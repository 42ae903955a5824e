// audio_probe: the real DirectSound capture and playback of the agent, driven from the
// command line by the audio system test (audio_system_test.sh).
//
//   audio_probe tone OUT.wav DIGITS [TONE_MS GAP_MS]  writes key tones as a prompt file
//   audio_probe listen SECONDS COUNT                  captures until COUNT digits are heard
//   audio_probe play SECONDS FILE...                  plays the files as one prompt
//   audio_probe detect RAW_FILE                       digits in 8000 Hz s16le mono audio
//
// Output lines: "LISTENING", "DIGIT <d>", "DIGITS <all>", "PLAYING", "FINISHED".
// Exit codes: 0 done, 1 not done in time, 2 no device or bad arguments.
#include "audio/Capture.h"
#include "audio/DTMFDetectorEnvelope.h"
#include "audio/Prompt.h"
#include "audio/RiffWave.h"
#include "audio/SoundManager.h"

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: audio_probe tone OUT.wav DIGITS [TONE_MS GAP_MS] | listen SECONDS COUNT |"
                         " play SECONDS FILE... | detect RAW_FILE\n");
    return 2;
}

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

void AppendTone(std::vector<int16_t>& out, char digit, int ms) {
    static const char keys[] = "123A456B789C*0#D";
    static const double rows[] = {697, 770, 852, 941};
    static const double cols[] = {1209, 1336, 1477, 1633};
    constexpr double kPi = 3.14159265358979323846;
    const char* k = std::strchr(keys, digit);
    if (k == nullptr || digit == 0)
        return;
    const int index = static_cast<int>(k - keys);
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(ms) * 8);
    for (size_t i = 0; i < static_cast<size_t>(ms) * 8; ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        out[start + i] = static_cast<int16_t>(
            6000 * (std::sin(2 * kPi * rows[index / 4] * t) + std::sin(2 * kPi * cols[index % 4] * t)));
    }
}

int Tone(int argc, char** argv) {
    if (argc < 4)
        return Usage();
    const int toneMs = argc > 4 ? std::atoi(argv[4]) : 120;
    const int gapMs = argc > 5 ? std::atoi(argv[5]) : 180;
    std::vector<int16_t> samples(100 * 8, 0);
    for (const char* d = argv[3]; *d; ++d) {
        AppendTone(samples, *d, toneMs);
        samples.resize(samples.size() + static_cast<size_t>(gapMs) * 8, 0);
    }
    WAVEFORMATEX wfx = TelephonePcmFormat();
    CRiffWave wave;
    HRESULT hr = wave.Open(argv[2], &wfx, CRiffWave::kModeWrite);
    if (SUCCEEDED(hr))
        hr = wave.Write(static_cast<UINT>(samples.size() * 2), reinterpret_cast<const BYTE*>(samples.data()),
                        nullptr);
    if (SUCCEEDED(hr))
        hr = wave.Close();
    if (FAILED(hr)) {
        Say("cannot write %s: 0x%lx", argv[2], static_cast<unsigned long>(hr));
        return 2;
    }
    return 0;
}

// The capture thread as the IVR engine runs it: wait for a notification, take the data.
class ListeningCapture : public CCapture {
public:
    ~ListeningCapture() override {
        StopCapture();
        WaitForThreadDone();
    }
    std::string Heard() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_heard;
    }
    long Takes() const { return m_takes; }

protected:
    void ThreadBody() override {
        while (!IsStopRequested()) {
            if (WaitForSingleObject(GetNotificationEvent(), 500) != WAIT_OBJECT_0)
                continue;
            if (RecordCapturedData() != 0)
                continue;
            ++m_takes;
            for (char digit : GetDigits()) {
                Say("DIGIT %c", digit);
                std::lock_guard<std::mutex> guard(m_lock);
                m_heard += digit;
            }
        }
    }

private:
    std::mutex m_lock;
    std::string m_heard;
    std::atomic<long> m_takes{0};
};

int Listen(int argc, char** argv) {
    if (argc < 4)
        return Usage();
    const DWORD seconds = static_cast<DWORD>(std::atoi(argv[2]));
    const size_t count = static_cast<size_t>(std::atoi(argv[3]));
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    int rc = 1;
    {
        ListeningCapture capture;
        const long init = capture.Initialize(nullptr, event, CCapture::kDirectX8);
        if (init != 0) {
            Say("no capture device: Initialize failed err = 0x%lx", static_cast<unsigned long>(init));
            return 2;
        }
        const HRESULT hr = capture.StartCapture();
        if (FAILED(hr)) {
            Say("no capture device: StartCapture failed err = 0x%lx", static_cast<unsigned long>(hr));
            return 2;
        }
        Say("LISTENING");
        const DWORD t0 = GetTickCount();
        while (GetTickCount() - t0 < seconds * 1000 && capture.Heard().size() < count)
            Sleep(50);
        capture.StopCapture();
        Say("TAKES %ld", capture.Takes());
        Say("DIGITS %s", capture.Heard().c_str());
        rc = capture.Heard().size() >= count ? 0 : 1;
    }
    CloseHandle(event);
    return rc;
}

int Play(int argc, char** argv) {
    if (argc < 4)
        return Usage();
    const DWORD seconds = static_cast<DWORD>(std::atoi(argv[2]));
    HWND hwnd =
        CreateWindowExA(0, "STATIC", "audio_probe", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (hwnd == nullptr)
        hwnd = GetDesktopWindow();

    CSoundManager manager;
    HRESULT hr = manager.Initialize(hwnd, DSSCL_PRIORITY, nullptr);
    if (FAILED(hr)) {
        Say("no playback device: Initialize failed err = 0x%lx", static_cast<unsigned long>(hr));
        return 2;
    }
    hr = manager.SetPrimaryBufferFormat(2, 22050, 16);
    if (FAILED(hr))
        Say("primary buffer format not set: 0x%lx", static_cast<unsigned long>(hr));
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::unique_ptr<CPlaylistSound> sound;
    hr = manager.CreateStreaming(event, &sound);
    if (FAILED(hr)) {
        Say("no playback device: CreateStreaming failed err = 0x%lx", static_cast<unsigned long>(hr));
        return 2;
    }
    CPrompt prompt(sound.get(), event);
    for (int i = 3; i < argc; ++i)
        prompt.AddFileToPlayAtBack(argv[i]);
    hr = prompt.StartPlayback();
    if (FAILED(hr)) {
        Say("StartPlayback failed err = 0x%lx", static_cast<unsigned long>(hr));
        return 2;
    }
    Say("PLAYING");
    const DWORD t0 = GetTickCount();
    int notifications = 0;
    while (prompt.IsPlaying() && GetTickCount() - t0 < seconds * 1000) {
        if (WaitForSingleObject(event, 500) == WAIT_OBJECT_0) {
            ++notifications;
            sound->HandleNotification();
        }
    }
    const bool finished = !prompt.IsPlaying();
    // Let the device carry the last samples out before the buffer goes.
    const DWORD tEnd = GetTickCount();
    while (GetTickCount() - tEnd < 400) {
        if (WaitForSingleObject(event, 100) == WAIT_OBJECT_0)
            sound->HandleNotification();
    }
    sound->Stop();
    Say("NOTIFICATIONS %d", notifications);
    Say(finished ? "FINISHED" : "NOT FINISHED");
    sound.reset();
    CloseHandle(event);
    return finished ? 0 : 1;
}

int Detect(int argc, char** argv) {
    if (argc < 3)
        return Usage();
    FILE* f = std::fopen(argv[2], "rb");
    if (f == nullptr) {
        Say("cannot open %s", argv[2]);
        return 2;
    }
    DTMFDetectorEnvelope detector(CCapture::kMinToneMs, 8000);
    std::string heard;
    int16_t block[800];
    size_t n;
    while ((n = std::fread(block, 2, 800, f)) > 0) {
        char digits[5];
        const uint32_t found = detector.DetectDigits(block, static_cast<uint32_t>(n), digits, sizeof digits);
        heard.append(digits, found);
    }
    std::fclose(f);
    // Let a tone at the very end finish.
    std::memset(block, 0, sizeof block);
    char digits[5];
    heard.append(digits, detector.DetectDigits(block, 800, digits, sizeof digits));
    Say("DIGITS %s", heard.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage();
    const std::string mode = argv[1];
    if (mode == "tone")
        return Tone(argc, argv);
    if (mode == "listen")
        return Listen(argc, argv);
    if (mode == "play")
        return Play(argc, argv);
    if (mode == "detect")
        return Detect(argc, argv);
    return Usage();
}
