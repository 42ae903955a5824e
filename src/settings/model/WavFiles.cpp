#include "settings/model/WavFiles.h"

#include "audio/RiffWave.h"

#include <algorithm>
#include <cstdio>

namespace {

bool HasPrefixAndWav(const std::string& name, const std::string& prefix) {
    if (name.size() < prefix.size() + 4) {
        return false;
    }
    return _strnicmp(name.c_str(), prefix.c_str(), prefix.size()) == 0 &&
           _stricmp(name.c_str() + name.size() - 4, ".wav") == 0;
}

SYSTEMTIME LocalTime(const FILETIME& written) {
    FILETIME local = {};
    SYSTEMTIME time = {};
    FileTimeToLocalFileTime(&written, &local);
    FileTimeToSystemTime(&local, &time);
    return time;
}

WavFileInfo FromFound(const std::string& folder, const WIN32_FIND_DATAA& found) {
    WavFileInfo info;
    info.name = found.cFileName;
    info.path = folder + "\\" + info.name;
    info.written = found.ftLastWriteTime;
    info.size = (uint64_t)found.nFileSizeHigh << 32 | found.nFileSizeLow;
    return info;
}

} // namespace

int WavLengthMs(const std::string& path, uint64_t fileSize) {
    CRiffWave wave;
    if (FAILED(wave.Open(path.c_str(), nullptr, CRiffWave::kModeRead))) {
        return -1;
    }
    const WAVEFORMATEX* format = wave.GetFormat();
    if (!format || format->nAvgBytesPerSec == 0) {
        return -1;
    }
    uint64_t bytes = wave.GetSize();
    // A header written before any sample (a recording going on): what is on disk counts.
    const uint64_t header = 58;
    if ((bytes == 0 || bytes > fileSize) && fileSize > header) {
        bytes = fileSize - header;
    }
    return (int)(bytes * 1000 / format->nAvgBytesPerSec);
}

std::vector<WavFileInfo> ListWavFiles(const std::string& folder, const std::string& prefix) {
    std::vector<WavFileInfo> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\" + prefix + "*.wav").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return files;
    }
    do {
        // The system also matches short names: only names that really fit are taken.
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            HasPrefixAndWav(found.cFileName, prefix)) {
            files.push_back(FromFound(folder, found));
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::stable_sort(files.begin(), files.end(), [](const WavFileInfo& a, const WavFileInfo& b) {
        const LONG order = CompareFileTime(&a.written, &b.written);
        return order != 0 ? order > 0 : a.name > b.name;
    });
    return files;
}

bool DescribeWavFile(const std::string& path, WavFileInfo* info) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(search);
    const size_t slash = path.find_last_of('\\');
    *info = FromFound(slash == std::string::npos ? "." : path.substr(0, slash), found);
    info->path = path;
    info->lengthMs = WavLengthMs(path, info->size);
    return true;
}

std::string FormatDate(const FILETIME& written) {
    const SYSTEMTIME time = LocalTime(written);
    char text[64] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, text, sizeof text);
    return text;
}

std::string FormatTime(const FILETIME& written) {
    const SYSTEMTIME time = LocalTime(written);
    char text[64] = {};
    GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &time, nullptr, text, sizeof text);
    return text;
}

std::string FormatLength(int lengthMs) {
    if (lengthMs < 0) {
        return "?";
    }
    const int seconds = (lengthMs + 500) / 1000;
    char text[32];
    snprintf(text, sizeof text, "%d:%02d", seconds / 60, seconds % 60);
    return text;
}

std::string StampForName(const FILETIME& written) {
    const SYSTEMTIME time = LocalTime(written);
    char text[64];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u-%02u-%02u", time.wYear, time.wMonth, time.wDay,
             time.wHour, time.wMinute, time.wSecond);
    return text;
}
