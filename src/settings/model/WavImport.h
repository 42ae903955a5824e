// A WAV file of the user's made into a prompt: the voice dialogues play 8000 Hz, 16-bit,
// mono PCM only (audio/RiffWave.h's TelephonePcmFormat). The system's audio compression
// manager converts whatever it can decode (PCM of any rate, width and channels; ADPCM,
// mu-law, a-law, GSM, MP3 where a codec is installed): a compressed file is first decoded
// to the PCM its codec suggests, then that PCM is converted.
//
// The result is written to `target` through a new temporary file beside it, which replaces
// the target only once it is whole: on any failure the target stays as it was.
//
// Threads: no state; any thread.
#pragma once

#include <string>

class CWavImport {
public:
    static constexpr unsigned kMaxSeconds = 300;          // a greeting, not an album
    static constexpr unsigned kMaxSourceBytes = 64 << 20; // what is read into memory

    // False with the problem in words (English).
    static bool Convert(const std::string& source, const std::string& target, std::string* problem);
};
