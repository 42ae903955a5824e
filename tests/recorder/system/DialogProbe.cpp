// DialogProbe.exe: looks at the agent's dialogs from outside, as a user would see them,
// for the system tests of the error box and the About box. Every command works on the
// top-level dialogs (class "#32770") of the processes named OrvinAgent.exe (or
// --process NAME) and prints NAME=VALUE lines:
//
//   wait TITLE [MS]        until a visible dialog titled TITLE exists (default 10000 ms);
//                          prints window=0xHANDLE, count=N (visible ones with that title),
//                          rect=LEFT,TOP,RIGHT,BOTTOM (screen) and text.ID=TEXT for each
//                          child control
//   count TITLE            count=N: visible dialogs with that title
//   press TITLE ID         posts the click of button ID to the visible dialog TITLE
//   command TITLE ID       posts WM_COMMAND ID to the dialog TITLE (visible or not): a
//                          menu command to the main dialog
//   gone TITLE [MS]        until no visible dialog has that title; prints gone_ms=N
//
// Exit status 0 when the command did what it says, 1 when not, 2 for bad usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string g_process = "OrvinAgent.exe";

std::string ImageName(DWORD processId) {
    std::string name;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) {
        return name;
    }
    char path[MAX_PATH] = {};
    DWORD size = sizeof path;
    if (QueryFullProcessImageNameA(process, 0, path, &size)) {
        name = path;
        const size_t slash = name.find_last_of("\\/");
        if (slash != std::string::npos) {
            name.erase(0, slash + 1);
        }
    }
    CloseHandle(process);
    return name;
}

std::string Text(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// The agent's dialogs titled `title`; visible ones only unless told.
std::vector<HWND> Dialogs(const std::string& title, bool visibleOnly) {
    struct Search {
        std::string title;
        bool visibleOnly;
        std::vector<HWND> found;
    } search{title, visibleOnly, {}};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* search = reinterpret_cast<Search*>(data);
            char className[32] = {};
            GetClassNameA(window, className, sizeof className);
            if (strcmp(className, "#32770") != 0 || Text(window) != search->title) {
                return TRUE;
            }
            if (search->visibleOnly && !IsWindowVisible(window)) {
                return TRUE;
            }
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (_stricmp(ImageName(process).c_str(), g_process.c_str()) == 0) {
                search->found.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A text in one line: line feeds as \n.
std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            line += "\\n";
        } else if (c != '\r') {
            line += c;
        }
    }
    return line;
}

void PrintControls(HWND dialog) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::string text = Text(child);
        if (!text.empty() && (unsigned char)text[0] == 0xFF) {
            continue; // an icon's resource number, no text
        }
        printf("text.%d=%s\n", GetDlgCtrlID(child), OneLine(text).c_str());
    }
}

bool ParseMs(const char* text, DWORD* ms) {
    char* end = nullptr;
    const long value = strtol(text, &end, 10);
    if (!*text || *end || value < 0) {
        return false;
    }
    *ms = (DWORD)value;
    return true;
}

int Usage() {
    fputs("usage: DialogProbe.exe [--process NAME] wait TITLE [MS] | count TITLE | press TITLE ID |\n"
          "       command TITLE ID | gone TITLE [MS]\n",
          stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int at = 1;
    if (argc > 2 && strcmp(argv[1], "--process") == 0) {
        g_process = argv[2];
        at = 3;
    }
    if (argc - at < 2) {
        return Usage();
    }
    const std::string command = argv[at];
    const std::string title = argv[at + 1];
    const int extra = argc - at - 2;
    DWORD ms = 10000;
    if (command == "wait" || command == "gone") {
        if (extra > 1 || (extra == 1 && !ParseMs(argv[at + 2], &ms))) {
            return Usage();
        }
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            const std::vector<HWND> found = Dialogs(title, true);
            if (command == "wait" && !found.empty()) {
                RECT rect = {};
                GetWindowRect(found[0], &rect);
                printf("window=0x%llx\ncount=%u\nrect=%ld,%ld,%ld,%ld\n",
                       (unsigned long long)(uintptr_t)found[0], (unsigned)found.size(), rect.left, rect.top,
                       rect.right, rect.bottom);
                PrintControls(found[0]);
                return 0;
            }
            if (command == "gone" && found.empty()) {
                printf("gone_ms=%llu\n", (unsigned long long)(GetTickCount64() - start));
                return 0;
            }
            if (GetTickCount64() - start >= ms) {
                fprintf(stderr, "DialogProbe: %s \"%s\": still %s after %lu ms\n", command.c_str(),
                        title.c_str(), command == "wait" ? "no such dialog" : "there", ms);
                return 1;
            }
            Sleep(20);
        }
    }
    if (command == "count" && extra == 0) {
        printf("count=%u\n", (unsigned)Dialogs(title, true).size());
        return 0;
    }
    if ((command == "press" || command == "command") && extra == 1) {
        const int id = atoi(argv[at + 2]);
        const std::vector<HWND> found = Dialogs(title, command == "press");
        if (found.empty()) {
            fprintf(stderr, "DialogProbe: no dialog \"%s\"\n", title.c_str());
            return 1;
        }
        HWND control = command == "press" ? GetDlgItem(found[0], id) : nullptr;
        if (command == "press" && !control) {
            fprintf(stderr, "DialogProbe: \"%s\" has no control %d\n", title.c_str(), id);
            return 1;
        }
        PostMessageA(found[0], WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)control);
        printf("posted=%d\n", id);
        return 0;
    }
    return Usage();
}
