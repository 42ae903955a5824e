// Takes one member out of a Microsoft Cabinet with the system's cabinet API (FDI): any
// compression the system knows (the translation cabinets use MSZIP), one cabinet, no sets.
//
// The member is written only to the path the caller names, never to a path taken from
// the cabinet, and never beyond a size the caller sets, so a damaged or hostile cabinet
// can cost an error, not a file elsewhere or a full disk. A failed extraction leaves no
// part of the member at the target path.
//
// Threads: any thread; each call is self-contained (the system's callbacks find their
// call's state through the calling thread).
#pragma once

#include <cstddef>
#include <string>

namespace orvin {

// The text for an FDI error number (ERF.erfOper): "No error", "Cabinet not found", ...,
// "User aborted"; "Unknown error" for any other number.
const char* CabinetErrorText(int fdiError);

struct CabinetExtraction {
    bool ok = false;
    // The FDI error number when the system's API failed, else -1.
    int fdiError = -1;
    // Why it failed, for the trace: the cabinet error text or a description.
    std::string error;
};

// Extracts the member named `member` (compared without regard to ASCII case) from the
// cabinet at `cabinetPath` into the file `targetPath`, replacing it. A member larger than
// `sizeLimit` bytes is refused.
CabinetExtraction ExtractCabinetMember(const std::string& cabinetPath, const std::string& member,
                                       const std::string& targetPath, size_t sizeLimit);

} // namespace orvin
