#include "settings/model/WavImport.h"

#include "audio/RiffWave.h"
#include "settings/model/RegistryChanges.h"

#include <msacm.h>

#include <vector>

namespace {

// One conversion through an open ACM stream, the whole input at once.
class CAcmStream {
public:
    ~CAcmStream() {
        if (m_hStream) {
            acmStreamClose(m_hStream, 0);
        }
    }
    MMRESULT Open(const WAVEFORMATEX* from, const WAVEFORMATEX* to) {
        return acmStreamOpen(&m_hStream, nullptr, const_cast<WAVEFORMATEX*>(from),
                             const_cast<WAVEFORMATEX*>(to), nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME);
    }
    bool Convert(const std::vector<BYTE>& input, std::vector<BYTE>* output) {
        DWORD outputSize = 0;
        if (input.empty() ||
            acmStreamSize(m_hStream, (DWORD)input.size(), &outputSize, ACM_STREAMSIZEF_SOURCE) != 0 ||
            outputSize == 0) {
            return false;
        }
        output->assign(outputSize, 0);
        ACMSTREAMHEADER header = {};
        header.cbStruct = sizeof header;
        header.pbSrc = const_cast<BYTE*>(input.data());
        header.cbSrcLength = (DWORD)input.size();
        header.pbDst = output->data();
        header.cbDstLength = outputSize;
        if (acmStreamPrepareHeader(m_hStream, &header, 0) != 0) {
            return false;
        }
        const MMRESULT result =
            acmStreamConvert(m_hStream, &header, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END);
        acmStreamUnprepareHeader(m_hStream, &header, 0);
        if (result != 0) {
            return false;
        }
        output->resize(header.cbDstLengthUsed);
        return !output->empty();
    }

private:
    HACMSTREAM m_hStream = nullptr;
};

bool IsTelephonePcm(const WAVEFORMATEX& format) {
    const WAVEFORMATEX telephone = TelephonePcmFormat();
    return format.wFormatTag == WAVE_FORMAT_PCM && format.nChannels == telephone.nChannels &&
           format.nSamplesPerSec == telephone.nSamplesPerSec &&
           format.wBitsPerSample == telephone.wBitsPerSample;
}

bool Fail(std::string* problem, const std::string& text) {
    *problem = text;
    return false;
}

} // namespace

bool CWavImport::Convert(const std::string& source, const std::string& target, std::string* problem) {
    const std::string cannot = "The file " + source + " cannot be used as a greeting: ";
    CRiffWave input;
    if (FAILED(input.Open(source.c_str(), nullptr, CRiffWave::kModeRead)) || !input.GetFormat()) {
        return Fail(problem, cannot + "it is not a WAV file.");
    }
    if (input.GetSize() > kMaxSourceBytes) {
        return Fail(problem, cannot + "it is too large.");
    }
    const WAVEFORMATEX* format = input.GetFormat();
    std::vector<BYTE> formatBytes((const BYTE*)format,
                                  (const BYTE*)format + sizeof(WAVEFORMATEX) +
                                      (format->wFormatTag == WAVE_FORMAT_PCM ? 0 : format->cbSize));
    std::vector<BYTE> data(input.GetSize());
    DWORD read = 0;
    if (data.empty() || FAILED(input.Read(data.data(), (DWORD)data.size(), &read)) || read == 0) {
        return Fail(problem, cannot + "it holds no sound.");
    }
    data.resize(read);
    input.Close();
    const auto* from = reinterpret_cast<const WAVEFORMATEX*>(formatBytes.data());

    std::vector<BYTE> pcm;
    WAVEFORMATEX pcmFormat = *from;
    if (from->wFormatTag != WAVE_FORMAT_PCM) {
        // Decoded first, to the PCM the codec suggests.
        pcmFormat = {};
        pcmFormat.wFormatTag = WAVE_FORMAT_PCM;
        CAcmStream decoder;
        if (acmFormatSuggest(nullptr, const_cast<WAVEFORMATEX*>(from), &pcmFormat, sizeof pcmFormat,
                             ACM_FORMATSUGGESTF_WFORMATTAG) != 0 ||
            decoder.Open(from, &pcmFormat) != 0 || !decoder.Convert(data, &pcm)) {
            return Fail(problem, cannot + "this computer has no codec for its sound format.");
        }
    } else {
        pcm.swap(data);
        pcmFormat.cbSize = 0;
    }
    const WAVEFORMATEX telephone = TelephonePcmFormat();
    std::vector<BYTE> prompt;
    if (IsTelephonePcm(pcmFormat)) {
        prompt.swap(pcm);
    } else {
        CAcmStream converter;
        if (converter.Open(&pcmFormat, &telephone) != 0 || !converter.Convert(pcm, &prompt)) {
            return Fail(problem, cannot + "its sound cannot be converted to 8000 Hz mono.");
        }
    }
    prompt.resize(prompt.size() & ~(size_t)1);
    if (prompt.size() / telephone.nAvgBytesPerSec > kMaxSeconds) {
        return Fail(problem, cannot + "it is longer than " + std::to_string(kMaxSeconds / 60) + " minutes.");
    }

    // A new file of its own beside the target: the folder is one every user may write, and
    // a name someone else made first (a link to another file) is never written through.
    const size_t slash = target.find_last_of('\\');
    char temporary[MAX_PATH] = {};
    if (!GetTempFileNameA(slash == std::string::npos ? "." : target.substr(0, slash).c_str(), "grt", 0,
                          temporary)) {
        return Fail(problem, "The greeting could not be written to " + target + ": " +
                                 SystemErrorText((LONG)GetLastError()) + ".");
    }
    CRiffWave output;
    UINT written = 0;
    bool whole = SUCCEEDED(output.Open(temporary, &telephone, CRiffWave::kModeWrite)) &&
                 SUCCEEDED(output.Write((UINT)prompt.size(), prompt.data(), &written)) &&
                 written == prompt.size();
    whole = output.Close() == S_OK && whole;
    if (!whole || !MoveFileExA(temporary, target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD error = GetLastError();
        DeleteFileA(temporary);
        return Fail(problem, "The greeting could not be written to " + target + ": " +
                                 SystemErrorText((LONG)error) + ".");
    }
    return true;
}
