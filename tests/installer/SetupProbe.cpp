// SetupProbe.exe: drives the setup's and the uninstaller's pages as a user would, for the
// installer's tests and its screenshot. A page is found by the title of the setup's
// top-level window (its beginning: the setup adds the page's name, "OrvinAgent Setup:
// Installation Folder") and the text of one of its visible controls (a button's label with its
// "&", a radio button's, a label's); a message box over its page is the one found first.
// Prints NAME=VALUE lines:
//
//   wait TITLE TEXT [MS]   until the window TITLE shows a control TEXT, enabled (default
//                          20000 ms);
//                          rect=LEFT,TOP,RIGHT,BOTTOM of the window (screen)
//   click TITLE TEXT       clicks the control TEXT (posts BM_CLICK): a button, a radio
//                          button or a check box; clicked=TEXT. The next wait sees its effect
//   checked TITLE TEXT     checked=1 or checked=0: the state of a radio button or check box
//   type TITLE LABEL TEXT  puts TEXT into the field that follows the label LABEL (a
//                          password field too); typed=LABEL
//   gone TITLE [MS]        until no window is titled TITLE (default 20000 ms)
//   texts TITLE            text=TEXT for each visible control with a text (what a page
//                          shows, for a test's failure message)
//
// Exit status 0 when the command did what it says, 1 when not, 2 for bad usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// WM_GETTEXT itself: GetWindowText gives another process's edit control no text.
std::string Text(HWND window) {
    char text[1024] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &length);
    return text;
}

HWND TopLevel(const std::string& title) {
    struct Search {
        std::string title;
        HWND found;
    } search{title, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* search = reinterpret_cast<Search*>(data);
            if (IsWindowVisible(window) && Text(window).rfind(search->title, 0) == 0) {
                search->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The visible, enabled control with this text anywhere below the window (a button that
// waits for the work to end is disabled until then).
HWND Control(HWND top, const std::string& text) {
    struct Search {
        std::string text;
        HWND found;
    } search{text, nullptr};
    EnumChildWindows(
        top,
        [](HWND window, LPARAM data) -> BOOL {
            auto* search = reinterpret_cast<Search*>(data);
            if (IsWindowVisible(window) && IsWindowEnabled(window) && Text(window) == search->text) {
                search->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND Find(const std::string& title, const std::string& text) {
    HWND top = TopLevel(title);
    return top ? Control(top, text) : nullptr;
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
    fputs("usage: SetupProbe.exe wait TITLE TEXT [MS] | click TITLE TEXT | checked TITLE TEXT |\n"
          "       type TITLE LABEL TEXT | gone TITLE [MS] | texts TITLE\n",
          stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Usage();
    }
    const std::string command = argv[1];
    const std::string title = argv[2];
    DWORD ms = 20000;
    if (command == "wait" && (argc == 4 || (argc == 5 && ParseMs(argv[4], &ms)))) {
        const ULONGLONG start = GetTickCount64();
        while (!Find(title, argv[3])) {
            if (GetTickCount64() - start >= ms) {
                fprintf(stderr, "SetupProbe: \"%s\" shows no \"%s\" after %lu ms\n", title.c_str(), argv[3],
                        ms);
                return 1;
            }
            Sleep(50);
        }
        RECT rect = {};
        GetWindowRect(TopLevel(title), &rect);
        printf("rect=%ld,%ld,%ld,%ld\n", rect.left, rect.top, rect.right, rect.bottom);
        return 0;
    }
    if (command == "gone" && (argc == 3 || (argc == 4 && ParseMs(argv[3], &ms)))) {
        const ULONGLONG start = GetTickCount64();
        while (TopLevel(title)) {
            if (GetTickCount64() - start >= ms) {
                fprintf(stderr, "SetupProbe: \"%s\" still there after %lu ms\n", title.c_str(), ms);
                return 1;
            }
            Sleep(50);
        }
        printf("gone=1\n");
        return 0;
    }
    if (command == "texts" && argc == 3) {
        HWND top = TopLevel(title);
        if (!top) {
            fprintf(stderr, "SetupProbe: no window \"%s\"\n", title.c_str());
            return 1;
        }
        EnumChildWindows(
            top,
            [](HWND window, LPARAM) -> BOOL {
                const std::string text = Text(window);
                if (IsWindowVisible(window) && !text.empty()) {
                    printf("text=%s\n", text.c_str());
                }
                return TRUE;
            },
            0);
        return 0;
    }
    if (command == "type" && argc == 5) {
        HWND label = Find(title, argv[3]);
        HWND field = label ? GetWindow(label, GW_HWNDNEXT) : nullptr;
        DWORD_PTR result = 0;
        if (!field ||
            !SendMessageTimeoutA(field, WM_SETTEXT, 0, (LPARAM)argv[4], SMTO_ABORTIFHUNG, 5000, &result)) {
            fprintf(stderr, "SetupProbe: \"%s\" shows no field after \"%s\"\n", title.c_str(), argv[3]);
            return 1;
        }
        printf("typed=%s\n", argv[3]);
        return 0;
    }
    if ((command == "click" || command == "checked") && argc == 4) {
        HWND control = Find(title, argv[3]);
        if (!control) {
            fprintf(stderr, "SetupProbe: \"%s\" shows no \"%s\"\n", title.c_str(), argv[3]);
            return 1;
        }
        DWORD_PTR result = 0;
        if (command == "checked") {
            SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
            printf("checked=%d\n", result == BST_CHECKED ? 1 : 0);
            return 0;
        }
        // Posted: the setup's page functions run their own message loops inside the
        // click's handling, so a sent click would return only when the next page is left.
        if (!PostMessageA(control, BM_CLICK, 0, 0)) {
            fprintf(stderr, "SetupProbe: the click on \"%s\" could not be posted\n", argv[3]);
            return 1;
        }
        printf("clicked=%s\n", argv[3]);
        return 0;
    }
    return Usage();
}
