#include "settings/model/PinRule.h"

PinProblem CheckPin(const std::string& pin) {
    for (char c : pin) {
        if (c < '0' || c > '9') {
            return PinProblem::kNotDigits;
        }
    }
    if (pin.size() < 4) {
        return PinProblem::kTooShort;
    }
    if (pin.size() > 8) {
        return PinProblem::kTooLong;
    }
    bool same = true, up = true, down = true;
    for (size_t i = 1; i < pin.size(); ++i) {
        const int step = (pin[i] - pin[i - 1] + 10) % 10;
        same = same && step == 0;
        up = up && step == 1;
        down = down && step == 9;
    }
    if (same) {
        return PinProblem::kAllSame;
    }
    return up || down ? PinProblem::kRun : PinProblem::kNone;
}

const char* PinProblemText(PinProblem problem) {
    switch (problem) {
    case PinProblem::kNotDigits:
        return "A PIN has digits only.";
    case PinProblem::kTooShort:
        return "A PIN has at least 4 digits.";
    case PinProblem::kTooLong:
        return "A PIN has at most 8 digits.";
    case PinProblem::kAllSame:
        return "A PIN of one digit repeated is too easy to guess.";
    case PinProblem::kRun:
        return "A PIN of digits in a row (such as 1234 or 4321) is too easy to guess.";
    default:
        return "";
    }
}
