// CFolderWatch: tells a window when the files of a folder change (a call leaves a message,
// a recording grows), so that its list follows. A thread of its own waits for the
// system's change notification and posts `message` to the window; the window redraws
// its list when the changes pause. A folder that does not exist yet is looked for again
// every few seconds (the dialogues make the voice-mail folder at the first message).
//
// Threads: Start and Stop on the window's thread; the watching thread only posts.
#pragma once

#include <windows.h>

#include <string>

class CFolderWatch {
public:
    static constexpr DWORD kRetryMs = 2000;

    CFolderWatch() = default;
    ~CFolderWatch() { Stop(); }
    CFolderWatch(const CFolderWatch&) = delete;
    CFolderWatch& operator=(const CFolderWatch&) = delete;

    bool Start(const std::string& folder, HWND window, UINT message);
    void Stop();

private:
    static DWORD WINAPI ThreadMain(void* self);
    void Run();

    std::string m_Folder;
    HWND m_hWindow = nullptr;
    UINT m_uMessage = 0;
    HANDLE m_hStop = nullptr;
    HANDLE m_hThread = nullptr;
};
