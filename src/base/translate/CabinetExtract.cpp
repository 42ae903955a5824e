#include "base/translate/CabinetExtract.h"

#include "base/translate/TranslationText.h"

#include <windows.h>

#include <fcntl.h>
#include <fdi.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace orvin {
namespace {

const char* const kFdiErrorTexts[] = {
    "No error",
    "Cabinet not found",
    "Not a cabinet",
    "Unknown cabinet version",
    "Corrupt cabinet",
    "Memory allocation failed",
    "Unknown compression type",
    "Failure decompressing data",
    "Failure writing to target file",
    "Cabinets in set have different RESERVE sizes",
    "Cabinet returned on fdintNEXT_CABINET is incorrect",
    "User aborted",
};

// A file the system's API reads or we write for it. Its address is the handle FDI holds.
struct CabFile {
    HANDLE hFile = INVALID_HANDLE_VALUE;
    bool bTarget = false;
    size_t uWritten = 0;
};

// One extraction's state. Owns every file opened during the call, so none outlives it
// whichever way the system's API ends.
struct Extraction {
    std::string member;
    std::string targetPath;
    size_t uSizeLimit = 0;
    std::vector<std::unique_ptr<CabFile>> files;
    bool bTargetCreated = false;
    bool bTargetComplete = false;
    bool bMemberTooLarge = false;
    bool bTargetWriteFailed = false;

    ~Extraction() {
        for (auto& file : files) {
            if (file->hFile != INVALID_HANDLE_VALUE) {
                CloseHandle(file->hFile);
            }
        }
    }
};

// The system's callbacks carry no user pointer except the notification's; the rest find
// the call's state here.
thread_local Extraction* t_pExtraction = nullptr;

CabFile* Adopt(HANDLE hFile, bool target) {
    auto file = std::make_unique<CabFile>();
    file->hFile = hFile;
    file->bTarget = target;
    CabFile* raw = file.get();
    t_pExtraction->files.push_back(std::move(file));
    return raw;
}

FNALLOC(Alloc) {
    return std::malloc(cb);
}
FNFREE(Free) {
    std::free(pv);
}

// FDI opens only the cabinet, and only to read it; the member's file is made in Notify.
FNOPEN(Open) {
    if (!t_pExtraction || (oflag & (_O_WRONLY | _O_RDWR | _O_CREAT | _O_TRUNC | _O_APPEND))) {
        return -1;
    }
    HANDLE h = CreateFileA(pszFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return -1;
    }
    return reinterpret_cast<INT_PTR>(Adopt(h, false));
}

FNREAD(Read) {
    auto* file = reinterpret_cast<CabFile*>(hf);
    DWORD got = 0;
    if (!file || file->hFile == INVALID_HANDLE_VALUE || !ReadFile(file->hFile, pv, cb, &got, nullptr)) {
        return UINT(-1);
    }
    return got;
}

FNWRITE(Write) {
    auto* file = reinterpret_cast<CabFile*>(hf);
    if (!file || file->hFile == INVALID_HANDLE_VALUE || !file->bTarget) {
        return UINT(-1);
    }
    // The header's size is checked before the file is made; this holds against a
    // cabinet whose data run on past it.
    if (cb > t_pExtraction->uSizeLimit - file->uWritten) {
        t_pExtraction->bMemberTooLarge = true;
        return UINT(-1);
    }
    DWORD written = 0;
    if (!WriteFile(file->hFile, pv, cb, &written, nullptr) || written != cb) {
        t_pExtraction->bTargetWriteFailed = true;
        return UINT(-1);
    }
    file->uWritten += written;
    return written;
}

FNCLOSE(Close) {
    auto* file = reinterpret_cast<CabFile*>(hf);
    if (!file || file->hFile == INVALID_HANDLE_VALUE) {
        return -1;
    }
    BOOL ok = CloseHandle(file->hFile);
    file->hFile = INVALID_HANDLE_VALUE;
    return ok ? 0 : -1;
}

FNSEEK(Seek) {
    auto* file = reinterpret_cast<CabFile*>(hf);
    if (!file || file->hFile == INVALID_HANDLE_VALUE) {
        return -1;
    }
    // SEEK_SET, SEEK_CUR and SEEK_END are FILE_BEGIN, FILE_CURRENT and FILE_END.
    LARGE_INTEGER distance, position;
    distance.QuadPart = dist;
    if (seektype < 0 || seektype > 2 ||
        !SetFilePointerEx(file->hFile, distance, &position, DWORD(seektype)) ||
        position.QuadPart > 0x7FFFFFFF) {
        return -1;
    }
    return LONG(position.QuadPart);
}

FNFDINOTIFY(Notify) {
    auto* e = static_cast<Extraction*>(pfdin->pv);
    switch (fdint) {
    case fdintCOPY_FILE: {
        // Only the wanted member, only once, and only to our own path.
        if (e->bTargetCreated || !pfdin->psz1 || !EqualIgnoringCase(pfdin->psz1, e->member)) {
            return 0;
        }
        if (size_t(pfdin->cb) > e->uSizeLimit) {
            e->bMemberTooLarge = true;
            return 0;
        }
        HANDLE h = CreateFileA(e->targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            e->bTargetWriteFailed = true;
            return -1;
        }
        e->bTargetCreated = true;
        return reinterpret_cast<INT_PTR>(Adopt(h, true));
    }
    case fdintCLOSE_FILE_INFO: {
        auto* file = reinterpret_cast<CabFile*>(pfdin->hf);
        const bool complete = file && file->bTarget && file->hFile != INVALID_HANDLE_VALUE;
        if (!complete || !CloseHandle(file->hFile)) {
            if (file) {
                file->hFile = INVALID_HANDLE_VALUE;
            }
            e->bTargetWriteFailed = true;
            return FALSE;
        }
        file->hFile = INVALID_HANDLE_VALUE;
        e->bTargetComplete = true;
        return TRUE;
    }
    case fdintNEXT_CABINET:
        // A member that runs on into another cabinet: translation cabinets are single.
        return -1;
    default:
        return 0;
    }
}

} // namespace

const char* CabinetErrorText(int fdiError) {
    if (fdiError < 0 || size_t(fdiError) >= sizeof kFdiErrorTexts / sizeof kFdiErrorTexts[0]) {
        return "Unknown error";
    }
    return kFdiErrorTexts[fdiError];
}

CabinetExtraction ExtractCabinetMember(const std::string& cabinetPath, const std::string& member,
                                       const std::string& targetPath, size_t sizeLimit) {
    CabinetExtraction result;
    // FDI takes the cabinet as folder (with its separator) and name, each below 256 bytes.
    const size_t slash = cabinetPath.find_last_of("\\/");
    std::string folder = slash == std::string::npos ? "" : cabinetPath.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? cabinetPath : cabinetPath.substr(slash + 1);
    if (name.empty() || name.size() >= 256 || folder.size() >= 256 || member.empty() || targetPath.empty()) {
        result.fdiError = FDIERROR_CABINET_NOT_FOUND;
        result.error = CabinetErrorText(result.fdiError);
        return result;
    }
    const DWORD attributes = GetFileAttributesA(cabinetPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        result.fdiError = FDIERROR_CABINET_NOT_FOUND;
        result.error = CabinetErrorText(result.fdiError);
        return result;
    }

    Extraction extraction;
    extraction.member = member;
    extraction.targetPath = targetPath;
    extraction.uSizeLimit = sizeLimit;
    ERF erf = {};
    HFDI hfdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &erf);
    if (!hfdi) {
        result.fdiError = erf.erfOper;
        result.error = CabinetErrorText(erf.erfOper);
        return result;
    }
    t_pExtraction = &extraction;
    const BOOL copied = FDICopy(hfdi, name.data(), folder.data(), 0, Notify, nullptr, &extraction);
    const int fdiError = erf.erfOper;
    FDIDestroy(hfdi);
    t_pExtraction = nullptr;

    if (copied && extraction.bTargetComplete) {
        result.ok = true;
        return result;
    }
    const std::string tooLarge = "member larger than " + std::to_string(sizeLimit) + " bytes";
    if (!copied) {
        result.fdiError = fdiError;
        result.error = CabinetErrorText(fdiError);
        if (extraction.bMemberTooLarge) {
            result.error += " (" + tooLarge + ")";
        }
    } else {
        result.error = extraction.bMemberTooLarge ? tooLarge : "member not in cabinet";
    }
    // Close before deleting: the member may have been cut off half-way.
    for (auto& file : extraction.files) {
        if (file->hFile != INVALID_HANDLE_VALUE) {
            CloseHandle(file->hFile);
            file->hFile = INVALID_HANDLE_VALUE;
        }
    }
    if (extraction.bTargetCreated) {
        DeleteFileA(targetPath.c_str());
    }
    return result;
}

} // namespace orvin
