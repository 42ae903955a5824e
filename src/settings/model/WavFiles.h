// The WAV files the settings program lists (voice messages, call recordings, the
// greeting): what the folder says of each (name, time, size) and its length from the
// file's own header, newest first. A listing reads the folder only; a length is read when
// it is wanted (WavLengthMs), so that a long list costs no more than its folder.
//
// Threads: no state; any thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

constexpr int kLengthNotRead = -2;

struct WavFileInfo {
    std::string path;
    std::string name;
    FILETIME written = {}; // last written, UTC
    uint64_t size = 0;
    int lengthMs = kLengthNotRead; // -1: not a WAV file that can be read
};

// The files in `folder` named `prefix`*.wav (any case), newest first, lengths not read;
// none when the folder is missing.
std::vector<WavFileInfo> ListWavFiles(const std::string& folder, const std::string& prefix);
// The one file, with its length; false when it is missing.
bool DescribeWavFile(const std::string& path, WavFileInfo* info);
// From the header: the data's bytes at the format's rate. A file still being recorded has
// no sizes in its header yet: then the bytes on disk after the header count.
int WavLengthMs(const std::string& path, uint64_t fileSize);

// For the lists, in the user's own formats: "12.03.2026", "10:22", and a length "1:05".
std::string FormatDate(const FILETIME& written);
std::string FormatTime(const FILETIME& written);
std::string FormatLength(int lengthMs);
// "2026-03-12 10-22-05": for a file name.
std::string StampForName(const FILETIME& written);
