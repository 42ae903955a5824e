// What the stand-in TelTelAPI.DLL (inside the agent) and its control program TelTelSim.exe
// tell each other over the control pipe \\.\pipe\NAME (NAME from the environment variable
// ORVIN_TELTELSIM_PIPE, default OrvinTelTelSim): one line of words each, LF-ended; words
// and quoted texts are the script languages' (SimCommon/ScriptText.h).
//
// Library -> control program:
//   hello PID MODULE FUNCTION,FUNCTION,...      at connection: the agent's process, the
//                                               library's file and the functions it exports
//   call QPC THREAD INCALLBACK FUNCTION RESULT ARG...
//                                               one per call the agent made: the performance
//                                               counter and thread at the call, 1 when made on
//                                               a thread while it ran one of the library's
//                                               callbacks, what the call answered, and its
//                                               arguments as typed words:
//       n:HEX          a number (a message, WPARAM, LPARAM)
//       w:HEX:KIND     a window; KIND own (a window of the calling process), foreign (of
//                      another process) or none (no window)
//       p:HEX:KIND     a callback; KIND code (executable code of a module of the process),
//                      other or none (null)
//       t:TEXT         a text, read up to its terminating zero
//       u:HEX          a text pointer that could not be read (null, or not readable)
//       l:HEX          a text with no terminating zero within kMaxTextBytes
//   fired ID QPCSTART QPCEND THREAD             a callback the control program asked for
//                                               ran on THREAD and returned
//   unfired ID REASON                           it could not run (REASON a TEXT)
//   posted ID OK                                a window message posted (OK 1) or not (0)
// Control program -> library:
//   ready N                                     TelTel_IsTelTelReady answers N from now on
//   result FUNCTION N                           FUNCTION answers N from now on
//   fire ID EVENT VALUE THREAD                  run the callback EVENT (ring-start, ring-stop,
//                                               call-start, call-end) with VALUE, on the
//                                               reader's own thread (library) or on a new
//                                               thread (new); answered with fired or unfired
//   post ID MESSAGE WPARAM LPARAM               post a window message to the registered window
//
// Nothing here does I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvin::teltelsim {

constexpr const char* kDefaultPipeName = "OrvinTelTelSim";
constexpr const char* kPipeNameVariable = "ORVIN_TELTELSIM_PIPE";
constexpr size_t kMaxTextBytes = 1024;
constexpr size_t kMaxLineBytes = 8192;

// The library's functions, in the order the library's description lists them.
extern const char* const kTelTelFunctions[13];
bool IsTelTelFunction(const std::string& name);

enum class CallbackEvent { RingStart, RingStop, CallStart, CallEnd };
const char* CallbackEventName(CallbackEvent event); // "ring-start" ...
bool ParseCallbackEvent(const std::string& word, CallbackEvent* event);

struct CallArg {
    enum class Kind { Number, Window, Callback, Text, Unreadable, Unterminated };
    enum class Fact { None, Own, Foreign, NoWindow, Code, Other, Null };
    Kind kind = Kind::Number;
    uint64_t value = 0; // the number, handle or pointer
    Fact fact = Fact::None;
    std::string text; // Kind::Text

    static CallArg Number(uint64_t value);
    static CallArg Window(uint64_t handle, Fact fact);
    static CallArg Callback(uint64_t pointer, Fact fact);
    static CallArg Text(const std::string& text);
    static CallArg Unreadable(uint64_t pointer);
    static CallArg Unterminated(uint64_t pointer);

    // As the log shows it: 0x1f, "text", <unreadable 0x0> ...
    std::string Shown() const;
};

struct CallRecord {
    long long qpc = 0;
    uint32_t thread = 0;
    bool inCallback = false;
    std::string function;
    int64_t result = 0;
    std::vector<CallArg> args;

    // "TelTel_Register(0x1005e) = 1"
    std::string Shown() const;
};

struct Hello {
    uint32_t pid = 0;
    std::string module;
    std::vector<std::string> functions;
};

struct FiredRecord {
    uint32_t id = 0;
    long long qpcStart = 0;
    long long qpcEnd = 0;
    uint32_t thread = 0;
};

// One line from the library, parsed. False with *error for a line that is none of them.
struct LibraryLine {
    enum class Kind { Hello, Call, Fired, Unfired, Posted };
    Kind kind = Kind::Call;
    Hello hello;
    CallRecord call;
    FiredRecord fired; // fired; unfired and posted use its id
    std::string reason;
    bool posted = false;
};
bool ParseLibraryLine(const std::string& line, LibraryLine* out, std::string* error);

std::string FormatHello(const Hello& hello);
std::string FormatCall(const CallRecord& call);
std::string FormatFired(const FiredRecord& fired);
std::string FormatUnfired(uint32_t id, const std::string& reason);
std::string FormatPosted(uint32_t id, bool posted);

// One line from the control program.
struct ControlLine {
    enum class Kind { Ready, Result, Fire, Post };
    Kind kind = Kind::Ready;
    int64_t value = 0; // ready, result: the answer; fire: the callback's value
    std::string function;
    uint32_t id = 0;
    CallbackEvent event = CallbackEvent::RingStart;
    bool newThread = false;
    uint32_t message = 0;
    uint64_t wParam = 0;
    uint64_t lParam = 0;
};
bool ParseControlLine(const std::string& line, ControlLine* out, std::string* error);
std::string FormatControl(const ControlLine& line);

} // namespace orvin::teltelsim
