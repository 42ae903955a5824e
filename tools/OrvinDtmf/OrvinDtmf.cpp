// OrvinDtmf: finds the key tones in a WAV file with the agent's own detector.
//
//   OrvinDtmf.exe FILE.wav                  prints the digits found, in order, on one line;
//                                           a file without samples prints nothing
//   OrvinDtmf.exe --bench SECONDS FILE.wav  runs the file through the detector for that long
//                                           and prints the digits of a pass and the samples
//                                           per second it reached; every pass must find the
//                                           same digits as the first
//
// The file must be what the capture hears: 8000 Hz, 16-bit, mono PCM. It is fed to the
// detector (40 ms minimum, as in the IVR) in chunks of 800 samples, as the capture does
// every 100 ms, and then 100 ms of silence: the detector reports a key when it has ended,
// so a key that lasts to the very end of the file is reported too.
// Exit status: 0 done, 1 the file cannot be read, 2 wrong format or wrong command line,
// 3 a benchmark pass found other digits than the first.
#include "audio/DTMFDetectorEnvelope.h"
#include "audio/RiffWave.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kRate = 8000;
constexpr uint32_t kMinToneMs = 40;
constexpr uint32_t kChunk = 800; // 100 ms, one capture notification
constexpr uint32_t kDigitsPerChunk = 5;
// After the file: enough to finish the last block and give the two empty blocks that end
// a key, and so bring the detector back to rest for the next pass.
constexpr uint32_t kFlushSamples = kChunk;

int Usage() {
    fprintf(stderr, "usage: OrvinDtmf FILE.wav\n       OrvinDtmf --bench SECONDS FILE.wav\n");
    return 2;
}

// Loads the whole file. Returns the exit status on failure, 0 on success.
int Load(const char* name, std::vector<int16_t>& samples) {
    CRiffWave wave;
    HRESULT hr = wave.Open(name, nullptr, CRiffWave::kModeRead);
    if (FAILED(hr)) {
        fprintf(stderr, "OrvinDtmf: cannot read %s (0x%08lx)\n", name, (unsigned long)hr);
        return 1;
    }
    const WAVEFORMATEX* f = wave.GetFormat();
    if (!f || f->wFormatTag != WAVE_FORMAT_PCM || f->nChannels != 1 || f->nSamplesPerSec != kRate ||
        f->wBitsPerSample != 16) {
        if (f) {
            fprintf(stderr,
                    "OrvinDtmf: %s is not 8000 Hz 16-bit mono PCM (format tag %u, %lu Hz, %u bits, %u "
                    "channels)\n",
                    name, f->wFormatTag, (unsigned long)f->nSamplesPerSec, f->wBitsPerSample, f->nChannels);
        } else {
            fprintf(stderr, "OrvinDtmf: %s has no format\n", name);
        }
        return 2;
    }
    samples.resize(wave.GetSize() / sizeof(int16_t));
    if (samples.empty()) {
        return 0;
    }
    DWORD got = 0;
    hr = wave.Read(reinterpret_cast<BYTE*>(samples.data()), (DWORD)(samples.size() * sizeof(int16_t)), &got);
    if (FAILED(hr)) {
        fprintf(stderr, "OrvinDtmf: cannot read the samples of %s (0x%08lx)\n", name, (unsigned long)hr);
        return 1;
    }
    samples.resize(got / sizeof(int16_t));
    return 0;
}

// One pass in capture-sized chunks, then the silence that ends a key still sounding;
// appends the digits found.
void Detect(DTMFDetectorEnvelope& detector, const std::vector<int16_t>& samples, std::string* digits) {
    static const std::vector<int16_t> silence(kFlushSamples, 0);
    char found[kDigitsPerChunk];
    auto feed = [&](const std::vector<int16_t>& audio) {
        for (size_t at = 0; at < audio.size(); at += kChunk) {
            const uint32_t n = (uint32_t)std::min<size_t>(kChunk, audio.size() - at);
            const uint32_t got = detector.DetectDigits(audio.data() + at, n, found, kDigitsPerChunk);
            if (digits) {
                digits->append(found, got);
            }
        }
    };
    feed(samples);
    feed(silence);
}

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)frequency.QuadPart;
}

int Bench(double seconds, const std::vector<int16_t>& samples) {
    if (samples.empty()) {
        fprintf(stderr, "OrvinDtmf: no samples to run\n");
        return 2;
    }
    DTMFDetectorEnvelope detector(kMinToneMs, kRate);
    std::string digits;
    Detect(detector, samples, &digits); // warm-up, and the digits of one pass
    // Every timed pass is checked against the first: a rate is worth nothing if the work
    // behind it went wrong.
    std::string found;
    found.reserve(digits.size() + kDigitsPerChunk);
    uint64_t passes = 0, wrong = 0;
    const double start = Now();
    double elapsed = 0;
    do {
        found.clear();
        Detect(detector, samples, &found);
        if (found != digits && wrong++ == 0) {
            fprintf(stderr, "OrvinDtmf: pass %llu found \"%s\", the first \"%s\"\n",
                    (unsigned long long)passes + 1, found.c_str(), digits.c_str());
        }
        ++passes;
        elapsed = Now() - start;
    } while (elapsed < seconds);
    const double total = (double)passes * (double)(samples.size() + kFlushSamples);
    printf("digits per pass: %s\n", digits.c_str());
    if (wrong) {
        fprintf(stderr, "OrvinDtmf: %llu of %llu passes found other digits than the first\n",
                (unsigned long long)wrong, (unsigned long long)passes);
        return 3;
    }
    printf("passes: %llu of %zu samples and %u of silence in %.3f s\n", (unsigned long long)passes,
           samples.size(), kFlushSamples, elapsed);
    printf("%.0f samples/s\n", total / elapsed);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int16_t> samples;
    if (argc == 2 && argv[1][0] != '-') {
        if (int status = Load(argv[1], samples)) {
            return status;
        }
        if (samples.empty()) {
            return 0; // no audio, no line
        }
        DTMFDetectorEnvelope detector(kMinToneMs, kRate);
        std::string digits;
        Detect(detector, samples, &digits);
        printf("%s\n", digits.c_str());
        return 0;
    }
    if (argc == 4 && std::string(argv[1]) == "--bench") {
        char* end = nullptr;
        const double seconds = strtod(argv[2], &end);
        if (end == argv[2] || *end || !(seconds > 0)) {
            return Usage();
        }
        if (int status = Load(argv[3], samples)) {
            return status;
        }
        return Bench(seconds, samples);
    }
    return Usage();
}
