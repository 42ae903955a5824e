// The remote-access PIN's rule, the same as setup's: 4 to 8 digits, not all the same
// digit, and not a run, in which every digit is the one before it plus 1 or minus 1,
// counted round 9 to 0 (1234, 7890, 8901, 4321 and 1098 are runs; 1357 and 2580 are not).
//
// Threads: no state; any thread.
#pragma once

#include <string>

enum class PinProblem {
    kNone,
    kNotDigits,
    kTooShort,
    kTooLong,
    kAllSame,
    kRun,
};

PinProblem CheckPin(const std::string& pin);
// What to tell the user (English; the page translates it).
const char* PinProblemText(PinProblem problem);
