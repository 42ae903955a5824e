// The floor of the voice dialogues' sound path under this Wine: a plain program that does
// only what that path must, with DirectSound on the default devices (those the agent opens
// where no adapter is found), timed by tests/bench/ivr_bench.sh exactly as it times the
// agent. Times are printed in seconds of the performance counter, one clock for every
// process of the run.
//
//   bench_ivr_floor start
//     Connects to the adapter service's pipe as adapter 0, as the agent does, and at each
//     IVR_START opens DirectSound, creates a 2 s secondary buffer in the prompts' format
//     (8000 Hz 16-bit mono, the agent's flags), fills it with the prompt's tone (440 Hz, half
//     of full scale) and plays it looping; IVR_TERMINATE releases it. Prints for each
//     start `start RECEIVED PLAYING`. Ends when the service closes the pipe.
//   bench_ivr_floor keys COUNT
//     Plays the 440 Hz tone and captures with a notification every 10 ms (a block of the
//     key detector). When a tone fed to the capture device ends, it switches the playing
//     buffer to the other tone (1000 Hz, then 440 Hz again ...) as a prompt is switched
//     (stop, rewind, fill, play) and prints `key HELD SWITCHED`: when the capture
//     notification that held the tone's last sample came, and when the switch was made.
//     Ends 2 s after the COUNTth tone, or 60 s after the last.
// Exit status 0, 1 when a DirectSound call or the pipe failed, 2 for a wrong command line.
#include "devicelink/MessageCatalogue.h"
#include "devicelink/iBus.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <dsound.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD kRate = 8000;
constexpr DWORD kBufferBytes = 32000;  // 2 s, as the prompt stream
constexpr DWORD kBlockBytes = 160;     // 10 ms: the detector's block
constexpr DWORD kCaptureBytes = 32000; // 2 s, as the dialogue's capture
constexpr double kLoudRms = 1000.0;    // a key tone is far above it, silence far below
constexpr DWORD kIdleEndMs = 60000;

double Seconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

WAVEFORMATEX PromptFormat() {
    WAVEFORMATEX wfx = {};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = 1;
    wfx.nSamplesPerSec = kRate;
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = 2;
    wfx.nAvgBytesPerSec = kRate * 2;
    return wfx;
}

bool Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        fprintf(stderr, "bench_ivr_floor: %s failed (0x%08lx)\n", what, (unsigned long)hr);
    }
    return SUCCEEDED(hr);
}

// The whole buffer filled with a steady tone, from its start: what a prompt switch writes.
bool FillTone(IDirectSoundBuffer* buffer, double hz) {
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD bytes1 = 0, bytes2 = 0;
    if (!Check(buffer->Lock(0, kBufferBytes, &part1, &bytes1, &part2, &bytes2, 0), "Lock")) {
        return false;
    }
    auto* samples = static_cast<int16_t*>(part1);
    for (DWORD i = 0; i < bytes1 / 2; ++i) {
        samples[i] = (int16_t)lround(16384.0 * sin(6.283185307179586 * hz * i / kRate));
    }
    return Check(buffer->Unlock(part1, bytes1, part2, bytes2), "Unlock");
}

struct Playback {
    IDirectSound8* device = nullptr;
    IDirectSoundBuffer* buffer = nullptr;
    ~Playback() { Release(); }
    void Release() {
        if (buffer) {
            buffer->Stop();
            buffer->Release();
            buffer = nullptr;
        }
        if (device) {
            device->Release();
            device = nullptr;
        }
    }
    // Opens the default device and plays the tone: a dialogue's first prompt.
    bool Open(double hz) {
        if (!Check(DirectSoundCreate8(nullptr, &device, nullptr), "DirectSoundCreate8") ||
            !Check(device->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY), "SetCooperativeLevel")) {
            return false;
        }
        WAVEFORMATEX wfx = PromptFormat();
        DSBUFFERDESC desc = {};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
        desc.dwBufferBytes = kBufferBytes;
        desc.lpwfxFormat = &wfx;
        return Check(device->CreateSoundBuffer(&desc, &buffer, nullptr), "CreateSoundBuffer") &&
               FillTone(buffer, hz) && Check(buffer->Play(0, 0, DSBPLAY_LOOPING), "Play");
    }
    // Another tone from the start of the buffer, as a new prompt starts.
    bool Switch(double hz) {
        return Check(buffer->Stop(), "Stop") && Check(buffer->SetCurrentPosition(0), "SetCurrentPosition") &&
               FillTone(buffer, hz) && Check(buffer->Play(0, 0, DSBPLAY_LOOPING), "Play");
    }
};

bool ReadAll(HANDLE pipe, void* data, DWORD bytes) {
    auto* p = static_cast<char*>(data);
    while (bytes > 0) {
        DWORD got = 0;
        if (!ReadFile(pipe, p, bytes, &got, nullptr) || got == 0) {
            return false;
        }
        p += got;
        bytes -= got;
    }
    return true;
}

int RunStart() {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 300 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
        pipe = CreateFileA("\\\\.\\pipe\\VCORE\\IOMAN", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) {
            Sleep(100);
        }
    }
    if (pipe == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "bench_ivr_floor: no service pipe (error %lu)\n", GetLastError());
        return 1;
    }
    const uint32_t adapter = 0;
    DWORD written = 0;
    if (!WriteFile(pipe, &adapter, sizeof adapter, &written, nullptr) || written != sizeof adapter) {
        fprintf(stderr, "bench_ivr_floor: the adapter index was not written (error %lu)\n", GetLastError());
        return 1;
    }
    Playback playback;
    std::vector<char> data;
    iBusMessage header;
    while (ReadAll(pipe, &header, sizeof header)) {
        if (header.Size < kBusHeaderSize || header.Size > 4096) {
            fprintf(stderr, "bench_ivr_floor: a message of %u bytes\n", (unsigned)header.Size);
            return 1;
        }
        const double received = Seconds();
        data.resize(header.Size - kBusHeaderSize);
        if (!data.empty() && !ReadAll(pipe, data.data(), (DWORD)data.size())) {
            break;
        }
        if (header.Kind != 3 || header.Param[0] != MSG_TYPE_IVR_EVENT) {
            continue;
        }
        if (header.Param[1] == IVR_START) {
            playback.Release();
            if (!playback.Open(440.0)) {
                return 1;
            }
            printf("start %.6f %.6f\n", received, Seconds());
            fflush(stdout);
        } else if (header.Param[1] == IVR_TERMINATE) {
            playback.Release();
        }
    }
    CloseHandle(pipe);
    return 0;
}

struct Capture {
    IDirectSoundCapture8* device = nullptr;
    IDirectSoundCaptureBuffer* buffer = nullptr;
    IDirectSoundNotify* notify = nullptr;
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ~Capture() {
        if (buffer) {
            buffer->Stop();
        }
        if (notify) {
            notify->Release();
        }
        if (buffer) {
            buffer->Release();
        }
        if (device) {
            device->Release();
        }
        CloseHandle(event);
    }
    bool Open() {
        static const GUID kIidNotify = {
            0xB0210783, 0x89cd, 0x11d0, {0xAF, 0x08, 0x00, 0xA0, 0xC9, 0x25, 0xCD, 0x16}};
        WAVEFORMATEX wfx = PromptFormat();
        DSCBUFFERDESC desc = {};
        desc.dwSize = sizeof desc;
        desc.dwBufferBytes = kCaptureBytes;
        desc.lpwfxFormat = &wfx;
        if (!Check(DirectSoundCaptureCreate8(nullptr, &device, nullptr), "DirectSoundCaptureCreate8") ||
            !Check(device->CreateCaptureBuffer(&desc, &buffer, nullptr), "CreateCaptureBuffer") ||
            !Check(buffer->QueryInterface(kIidNotify, (void**)&notify),
                   "QueryInterface(IDirectSoundNotify)")) {
            return false;
        }
        std::vector<DSBPOSITIONNOTIFY> positions(kCaptureBytes / kBlockBytes);
        for (size_t k = 0; k < positions.size(); ++k) {
            positions[k].dwOffset = (DWORD)((k + 1) * kBlockBytes - 1);
            positions[k].hEventNotify = event;
        }
        return Check(notify->SetNotificationPositions((DWORD)positions.size(), positions.data()),
                     "SetNotificationPositions") &&
               Check(buffer->Start(DSCBSTART_LOOPING), "Start");
    }
};

int RunKeys(int count) {
    Playback playback;
    Capture capture;
    if (!playback.Open(440.0) || !capture.Open()) {
        return 1;
    }
    double tone = 440.0;
    DWORD offset = 0;
    bool loud = false;
    double loudSince = 0; // when the last loud block came
    double lastKey = Seconds();
    for (int keys = 0; keys < count;) {
        if (WaitForSingleObject(capture.event, 1000) != WAIT_OBJECT_0) {
            if (Seconds() - lastKey > kIdleEndMs / 1000.0) {
                fprintf(stderr, "bench_ivr_floor: no tone for %u s\n", (unsigned)(kIdleEndMs / 1000));
                return 1;
            }
            continue;
        }
        const double now = Seconds();
        DWORD captured = 0, ready = 0;
        if (!Check(capture.buffer->GetCurrentPosition(&captured, &ready), "GetCurrentPosition")) {
            return 1;
        }
        while ((ready + kCaptureBytes - offset) % kCaptureBytes >= kBlockBytes) {
            void* part1 = nullptr;
            void* part2 = nullptr;
            DWORD bytes1 = 0, bytes2 = 0;
            if (!Check(capture.buffer->Lock(offset, kBlockBytes, &part1, &bytes1, &part2, &bytes2, 0),
                       "Lock")) {
                return 1;
            }
            double energy = 0;
            const auto* samples = static_cast<const int16_t*>(part1);
            for (DWORD i = 0; i < bytes1 / 2; ++i) {
                energy += (double)samples[i] * samples[i];
            }
            capture.buffer->Unlock(part1, bytes1, part2, bytes2);
            offset = (offset + kBlockBytes) % kCaptureBytes;
            const bool blockLoud = sqrt(energy / (kBlockBytes / 2)) > kLoudRms;
            if (blockLoud) {
                loudSince = now;
            } else if (loud) {
                // The tone ended in the block before this one.
                tone = tone == 440.0 ? 1000.0 : 440.0;
                if (!playback.Switch(tone)) {
                    return 1;
                }
                printf("key %.6f %.6f\n", loudSince, Seconds());
                fflush(stdout);
                lastKey = Seconds();
                ++keys;
            }
            loud = blockLoud;
        }
    }
    Sleep(2000); // the last tone is heard before the buffer goes
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CoInitialize(nullptr);
    int status = 2;
    if (argc == 2 && strcmp(argv[1], "start") == 0) {
        status = RunStart();
    } else if (argc == 3 && strcmp(argv[1], "keys") == 0 && atoi(argv[2]) > 0) {
        status = RunKeys(atoi(argv[2]));
    } else {
        fprintf(stderr, "usage: bench_ivr_floor start | keys COUNT\n");
    }
    CoUninitialize();
    return status;
}
