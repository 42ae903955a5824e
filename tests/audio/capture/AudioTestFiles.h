// Files and sounds for the audio tests: a private temporary folder, hand-made RIFF files,
// WAV files written through CRiffWave, and key tones.
#pragma once

#include "audio/RiffWave.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// A fresh folder under the temporary folder, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder() {
        char base[MAX_PATH];
        GetTempPathA(sizeof base, base);
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%sorvin-audio-%lu-%lu", base, GetCurrentProcessId(),
                      GetTickCount());
        for (int i = 0;; ++i) {
            m_path = std::string(name) + "-" + std::to_string(i);
            if (CreateDirectoryA(m_path.c_str(), nullptr))
                break;
        }
    }
    ~TempFolder() {
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((m_path + "\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileA((m_path + "\\" + fd.cFileName).c_str());
            } while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryA(m_path.c_str());
    }
    std::string File(const std::string& name) const { return m_path + "\\" + name; }

private:
    std::string m_path;
};

inline bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::vector<BYTE> ReadAll(const std::string& path) {
    std::vector<BYTE> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return bytes;
    BYTE buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return bytes;
}

inline void WriteAll(const std::string& path, const std::vector<BYTE>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline uint32_t Le32(const std::vector<BYTE>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

inline std::string Tag(const std::vector<BYTE>& b, size_t at) {
    return std::string(reinterpret_cast<const char*>(b.data()) + at, 4);
}

// Builds RIFF files byte by byte, for files the agent would never write itself.
struct RiffBuilder {
    std::vector<BYTE> bytes;

    RiffBuilder& Raw(const void* p, size_t n) {
        auto* q = static_cast<const BYTE*>(p);
        bytes.insert(bytes.end(), q, q + n);
        return *this;
    }
    RiffBuilder& U16(uint16_t v) { return Raw(&v, 2); }
    RiffBuilder& U32(uint32_t v) { return Raw(&v, 4); }
    RiffBuilder& Id(const char* id) { return Raw(id, 4); }
    // A chunk with its size and, for an odd size, the pad byte.
    RiffBuilder& Chunk(const char* id, const std::vector<BYTE>& data) {
        Id(id).U32(static_cast<uint32_t>(data.size()));
        Raw(data.data(), data.size());
        if (data.size() % 2)
            bytes.push_back(0);
        return *this;
    }
    // "RIFF" <size> <form> around what has been built so far.
    std::vector<BYTE> Riff(const char* form = "WAVE") const {
        RiffBuilder out;
        out.Id("RIFF").U32(static_cast<uint32_t>(bytes.size() + 4)).Id(form);
        out.Raw(bytes.data(), bytes.size());
        return out.bytes;
    }
};

inline std::vector<BYTE> FmtBytes(const WAVEFORMATEX& wfx, size_t size) {
    std::vector<BYTE> b(size, 0);
    std::memcpy(b.data(), &wfx, std::min(size, sizeof(WAVEFORMATEX)));
    return b;
}

inline std::vector<BYTE> AsBytes(const std::vector<int16_t>& samples) {
    std::vector<BYTE> b(samples.size() * 2);
    std::memcpy(b.data(), samples.data(), b.size());
    return b;
}

inline WAVEFORMATEX Pcm8k16Mono() {
    return TelephonePcmFormat();
}

// Writes a complete 8000 Hz 16-bit mono WAV file through CRiffWave.
inline bool WriteWav(const std::string& path, const std::vector<BYTE>& data) {
    CRiffWave w;
    WAVEFORMATEX wfx = Pcm8k16Mono();
    if (FAILED(w.Open(path.c_str(), &wfx, CRiffWave::kModeWrite)))
        return false;
    UINT written = 0;
    if (!data.empty() && FAILED(w.Write(static_cast<UINT>(data.size()), data.data(), &written)))
        return false;
    return SUCCEEDED(w.Close());
}

// The data of a WAV file as CRiffWave reads it; empty when it cannot be read.
inline std::vector<BYTE> ReadWavData(const std::string& path) {
    CRiffWave r;
    std::vector<BYTE> data;
    if (FAILED(r.Open(path.c_str(), nullptr, CRiffWave::kModeRead)))
        return data;
    data.resize(r.GetSize());
    DWORD got = 0;
    if (!data.empty() && FAILED(r.Read(data.data(), static_cast<DWORD>(data.size()), &got)))
        got = 0;
    data.resize(got);
    return data;
}

// A key tone of the telephone keypad, two equal sines, at 8000 Hz.
inline std::vector<int16_t> KeyTone(char digit, int ms, int amplitude = 6000) {
    constexpr double kPi = 3.14159265358979323846;
    static const char keys[] = "123A456B789C*0#D";
    static const double rows[] = {697, 770, 852, 941};
    static const double cols[] = {1209, 1336, 1477, 1633};
    const char* k = std::strchr(keys, digit);
    const int index = k ? static_cast<int>(k - keys) : 0;
    const double fr = rows[index / 4], fc = cols[index % 4];
    std::vector<int16_t> s(static_cast<size_t>(ms) * 8);
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        s[i] = static_cast<int16_t>(amplitude * (std::sin(2 * kPi * fr * t) + std::sin(2 * kPi * fc * t)));
    }
    return s;
}

inline std::vector<int16_t> Silence(int ms) {
    return std::vector<int16_t>(static_cast<size_t>(ms) * 8, 0);
}

inline std::vector<int16_t>& operator+=(std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
