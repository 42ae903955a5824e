// SkypePeer.exe: plays the agent's side of Skype's window-message API against SkypeSim,
// driven by a script of the stand-in's language (the peer's commands):
//   discover [timeout=MS]               broadcast "SkypeControlAPIDiscover" with this
//                                       window; wait for an attach message
//   send TEXT [zero=0] [data=N] [from=other]
//                                       one command by WM_COPYDATA to Skype's API window
//                                       (before any attach: to the window of Skype's class);
//                                       zero=0 leaves the terminating zero out, data sets
//                                       the copy-data word, from=other sends it from the
//                                       peer's second window
//   expect-notification PATTERN [timeout=MS]
//                                       the next notification that matches
//   wait-attached [timeout=MS]          until an attach message with status 0 has come
//   wait-gone [timeout=MS]              until no window of Skype's class exists
//   sleep MS
// Standard output: "ATTACH status=N" for each attach message (a later one too, such as a
// pending authorisation granted), "NOTIFY text" for each notification (bytes outside
// printable ASCII as \xHH, "  (no terminating zero)" when it came without), "SENT text"
// and "FAIL line N: ..." for a command that failed. Exit status 0 when every command did
// what it says, 1 otherwise, 2 for a bad script.
#include "SkypeSim/SkypeChecks.h"
#include "SkypeSim/SkypeScript.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

using namespace orvin::skypesim;

namespace {

const wchar_t kPeerClass[] = L"OrvinSkypePeer";

struct Peer {
    UINT discoverMessage = 0;
    UINT attachMessage = 0;
    HWND main = nullptr;  // the window that discovers and attaches
    HWND other = nullptr; // a second window, for commands from the wrong sender

    std::mutex mutex;
    std::condition_variable changed;
    int attachMessages = 0;
    HWND api = nullptr; // Skype's API window, after status 0
    std::deque<std::string> notifications;
};

Peer g_peer;

LRESULT CALLBACK PeerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == g_peer.attachMessage && hwnd == g_peer.main) {
        uint32_t status = (uint32_t)lParam;
        printf("ATTACH status=%u\n", status);
        fflush(stdout);
        {
            std::lock_guard<std::mutex> lock(g_peer.mutex);
            ++g_peer.attachMessages;
            g_peer.api = status == kAttachSuccess ? reinterpret_cast<HWND>(wParam) : nullptr;
        }
        g_peer.changed.notify_all();
        return 0;
    }
    if (message == WM_COPYDATA) {
        auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        std::string bytes;
        if (data && data->lpData && data->cbData) {
            bytes.assign(static_cast<const char*>(data->lpData), data->cbData);
        }
        std::string text = CommandText(bytes);
        bool zero = !bytes.empty() && bytes.back() == '\0';
        printf("NOTIFY %s%s\n", ShowText(text).c_str(), zero ? "" : "  (no terminating zero)");
        fflush(stdout);
        {
            std::lock_guard<std::mutex> lock(g_peer.mutex);
            g_peer.notifications.push_back(text);
        }
        g_peer.changed.notify_all();
        return TRUE;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void WindowThread(HANDLE ready) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = PeerProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kPeerClass;
    RegisterClassW(&windowClass);
    // Top-level windows, as the agent's message engine is: broadcasts reach them.
    g_peer.main = CreateWindowExW(0, kPeerClass, L"peer", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                  nullptr, instance, nullptr);
    g_peer.other = CreateWindowExW(0, kPeerClass, L"other", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                   nullptr, instance, nullptr);
    SetEvent(ready);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
}

std::chrono::steady_clock::time_point DeadlineAfter(uint32_t ms) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

bool Run(const SkypeCommand& command, std::string* failure) {
    switch (command.kind) {
    case SkypeCommandKind::Discover: {
        int before;
        {
            std::lock_guard<std::mutex> lock(g_peer.mutex);
            before = g_peer.attachMessages;
        }
        PostMessageW(HWND_BROADCAST, g_peer.discoverMessage, reinterpret_cast<WPARAM>(g_peer.main), 0);
        std::unique_lock<std::mutex> lock(g_peer.mutex);
        if (!g_peer.changed.wait_until(lock, DeadlineAfter(command.timeoutMs),
                                       [&] { return g_peer.attachMessages > before; })) {
            *failure = "no attach message within " + std::to_string(command.timeoutMs) + " ms";
            return false;
        }
        return true;
    }
    case SkypeCommandKind::Send: {
        HWND target;
        {
            std::lock_guard<std::mutex> lock(g_peer.mutex);
            target = g_peer.api;
        }
        if (!target) {
            target = FindWindowW(L"tSkMainForm.UnicodeClass", nullptr);
        }
        if (!target) {
            *failure = "no Skype window";
            return false;
        }
        std::string bytes = command.text;
        if (command.zero) {
            bytes += '\0';
        }
        COPYDATASTRUCT data = {};
        data.dwData = command.data;
        data.cbData = (DWORD)bytes.size();
        data.lpData = bytes.data();
        DWORD_PTR result = 0;
        HWND from = command.fromOther ? g_peer.other : g_peer.main;
        if (!SendMessageTimeoutW(target, WM_COPYDATA, reinterpret_cast<WPARAM>(from),
                                 reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, 5000, &result)) {
            *failure = "WM_COPYDATA not delivered: " + std::to_string(GetLastError());
            return false;
        }
        printf("SENT %s\n", ShowText(command.text).c_str());
        fflush(stdout);
        return true;
    }
    case SkypeCommandKind::ExpectNotification: {
        auto deadline = DeadlineAfter(command.timeoutMs);
        std::unique_lock<std::mutex> lock(g_peer.mutex);
        for (;;) {
            while (!g_peer.notifications.empty()) {
                std::string text = std::move(g_peer.notifications.front());
                g_peer.notifications.pop_front();
                if (command.pattern.Match(text)) {
                    return true;
                }
            }
            if (g_peer.changed.wait_until(lock, deadline) == std::cv_status::timeout &&
                g_peer.notifications.empty()) {
                *failure = "no notification matching '" + ShowText(command.pattern.Written()) + "'";
                return false;
            }
        }
    }
    case SkypeCommandKind::WaitAttached: {
        std::unique_lock<std::mutex> lock(g_peer.mutex);
        if (!g_peer.changed.wait_until(lock, DeadlineAfter(command.timeoutMs),
                                       [] { return g_peer.api != nullptr; })) {
            *failure = "not attached within " + std::to_string(command.timeoutMs) + " ms";
            return false;
        }
        return true;
    }
    case SkypeCommandKind::WaitGone: {
        auto deadline = DeadlineAfter(command.timeoutMs);
        while (FindWindowW(L"tSkMainForm.UnicodeClass", nullptr)) {
            if (std::chrono::steady_clock::now() >= deadline) {
                *failure = "the Skype window is still there";
                return false;
            }
            Sleep(50);
        }
        return true;
    }
    case SkypeCommandKind::Sleep:
        Sleep(command.ms);
        return true;
    default:
        *failure = "not a command of this program";
        return false;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: SkypePeer.exe SCRIPT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream content;
    if (in.is_open()) {
        content << in.rdbuf();
    }
    if (!in.is_open()) {
        fprintf(stderr, "SkypePeer: can not read %s\n", argv[1]);
        return 2;
    }
    std::vector<SkypeCommand> commands;
    std::vector<SkypeScriptError> errors;
    if (!ParseSkypeScript(content.str(), kSkypePeerCommands, &commands, &errors)) {
        for (const SkypeScriptError& error : errors) {
            fprintf(stderr, "SkypePeer: %s\n", FormatSkypeScriptError(error).c_str());
        }
        return 2;
    }
    g_peer.discoverMessage = RegisterWindowMessageW(L"SkypeControlAPIDiscover");
    g_peer.attachMessage = RegisterWindowMessageW(L"SkypeControlAPIAttach");
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread windows(WindowThread, ready);
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);

    int status = 0;
    for (const SkypeCommand& command : commands) {
        std::string failure;
        if (!Run(command, &failure)) {
            printf("FAIL line %d: %s: %s\n", command.line, command.source.c_str(), failure.c_str());
            fflush(stdout);
            status = 1;
            break;
        }
    }
    PostMessageW(g_peer.main, WM_QUIT, 0, 0);
    windows.join();
    return status;
}
