// The command language of the TelTel stand-in's control program: one command per line, '#'
// outside quotes starts a comment, words are separated by blanks, options are NAME=VALUE.
// Words, quoted texts and numbers are the adapter stand-in's (SimCommon/ScriptText.h).
//
//   wait-library [timeout=MS]            a library (the stand-in DLL in an agent) connects:
//                                        a new connection after the one the last
//                                        wait-library saw (default 10000 ms)
//   ready [value=N]                      TelTel_IsTelTelReady answers N from now on (1)
//   not-ready                            ... answers 0 (the start)
//   result FUNCTION N                    FUNCTION answers N from now on (all answer 1 at
//                                        the start)
//   ring-start|ring-stop|call-start|call-end [value=N] [thread=library|new]
//                                        the library runs that callback with N (default 1)
//                                        on its own reader thread, or on a new thread; the
//                                        command ends when it has returned
//   expect FUNCTION [ARG ...] [result=N] [timeout=MS]
//                                        the next call of FUNCTION whose arguments match
//                                        (and that answered N); other calls are logged and
//                                        passed over (default 5000 ms). ARG: * (anything),
//                                        a number (a number, window or callback argument
//                                        of that value) or a TEXT (a text argument equal to
//                                        it); arguments not given match anything
//   expect-no FUNCTION [FUNCTION ...] for=MS
//                                        none of them is called within MS
//   post MESSAGE [wparam=N] [lparam=N]   the library posts a window message to the window
//                                        registered with it
//   sleep MS
//   wait-gone [timeout=MS]               the library's connection ends (default 10000 ms)
//
// Parsing does no I/O: a whole script is checked, and every fault reported with its line
// number, before any command runs.
#pragma once

#include "TelTelWire.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvin::teltelsim {

enum class TelTelCommandKind { WaitLibrary, Ready, Result, Fire, Expect, ExpectNo, Post, Sleep, WaitGone };

constexpr uint32_t kDefaultWaitMs = 10000;
constexpr uint32_t kDefaultExpectMs = 5000;

struct ArgPattern {
    enum class Kind { Any, Number, Text };
    Kind kind = Kind::Any;
    uint64_t number = 0;
    std::string text;

    bool Match(const CallArg& arg) const;
};

struct TelTelCommand {
    TelTelCommandKind kind = TelTelCommandKind::Sleep;
    int line = 0;
    std::string source; // the line as written, comment removed and trimmed

    int64_t value = 0;                  // ready, result, the callbacks
    std::string function;               // result, expect
    std::vector<std::string> functions; // expect-no
    std::vector<ArgPattern> args;       // expect
    std::optional<int64_t> result;      // expect: what the call answered
    CallbackEvent event = CallbackEvent::RingStart;
    bool newThread = false;
    uint32_t message = 0; // post
    uint64_t wParam = 0;
    uint64_t lParam = 0;
    uint32_t timeoutMs = 0; // the waits; expect-no: how long
    uint32_t ms = 0;        // sleep

    // expect: the call is FUNCTION with matching arguments; expect-no: it is one of them.
    bool Matches(const CallRecord& call) const;
};

struct TelTelScriptError {
    int line = 0;
    std::string message;
};

// Parses one line. True with *command set for a command, true with *command empty for a
// blank or comment line, false with *error set for a fault.
bool ParseTelTelScriptLine(const std::string& text, int line, std::optional<TelTelCommand>* command,
                           std::string* error);

// Parses a whole script (lines separated by LF or CR LF). Every fault is collected; true
// when there was none.
bool ParseTelTelScript(const std::string& text, std::vector<TelTelCommand>* commands,
                       std::vector<TelTelScriptError>* errors);

} // namespace orvin::teltelsim
