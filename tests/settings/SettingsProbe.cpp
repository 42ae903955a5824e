// SettingsProbe.exe: drives a program's windows from outside as a user would, with window
// messages only, and prints what it sees as NAME=VALUE lines: the settings program's
// sheet, its pages and boxes for the settings tests, and the notification area's icon
// and the tray menu for the agent's icon test. Windows are looked for among the top-level
// windows of the processes named --process NAME (default OrvinSettings.exe).
//
//   wait TITLE [MS]              until a visible window TITLE exists: window=, rect=
//   page TITLE INDEX             the sheet TITLE shows page INDEX (PSM_SETCURSEL)
//   list TITLE ID                the list view ID of the current page: count=N, row.I=A|B|C
//   select TITLE ID INDEX        selects row INDEX of that list
//   click TITLE ID               clicks button ID of the current page, or of the sheet
//   set TITLE ID TEXT            the text of control ID of the current page
//   text TITLE ID                text=the control's text
//   answer TITLE ID [MS]         waits for a box (a dialog titled TITLE that is not the
//                                sheet), prints message=its text, presses button ID
//   gone TITLE [MS]              until no visible window TITLE exists
//   tray-shown [MS]              until the notification area shows: icon=L,T,R,B (the first
//                                icon's place on the screen)
//   tray-hidden [MS]             until it shows none
//   tray-click right|double      the mouse on the first icon of the notification area
//   menu [MS]                    until a popup menu of the process is open: menu=shown
//   menu-key CHAR|esc            the key CHAR (or Escape) to the open popup menu
//   hold                         keeps a hidden window (so a desktop) until it is ended
// Exit status 0 when the command did what it says, 1 when not, 2 for bad usage.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace {

std::string g_process = "OrvinSettings.exe";

bool OfProcess(HWND window) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    char path[MAX_PATH] = {};
    DWORD size = sizeof path;
    const bool ok = process && QueryFullProcessImageNameA(process, 0, path, &size);
    if (process) {
        CloseHandle(process);
    }
    const char* name = strrchr(path, '\\');
    return ok && _stricmp(name ? name + 1 : path, g_process.c_str()) == 0;
}

// The first visible top-level window of the process that `match` takes.
HWND Find(const std::function<bool(HWND)>& match) {
    struct Search {
        const std::function<bool(HWND)>* match;
        HWND found;
    } search{&match, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* search = reinterpret_cast<Search*>(data);
            if (IsWindowVisible(window) && OfProcess(window) && (*search->match)(window)) {
                search->found = window;
                return FALSE;
            }
            return TRUE;
        },
        (LPARAM)&search);
    return search.found;
}

std::string Text(HWND window) {
    char text[2048] = {};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &ignored);
    return text;
}

HWND Titled(const std::string& title) {
    return Find([&](HWND window) { return Text(window) == title; });
}

HWND Await(const std::function<HWND()>& find, DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        if (HWND found = find()) {
            return found;
        }
        if (GetTickCount64() >= deadline) {
            return nullptr;
        }
        Sleep(20);
    }
}

// A control of the sheet's current page, or of the sheet itself.
HWND Control(HWND sheet, int id) {
    HWND page = (HWND)SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0);
    HWND control = page ? GetDlgItem(page, id) : nullptr;
    return control ? control : GetDlgItem(sheet, id);
}

// Memory in the other process for a list view's structures.
class Remote {
public:
    explicit Remote(HWND window) {
        DWORD id = 0;
        GetWindowThreadProcessId(window, &id);
        m_process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, id);
        m_memory = m_process ? VirtualAllocEx(m_process, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE) : nullptr;
    }
    ~Remote() {
        if (m_memory) {
            VirtualFreeEx(m_process, m_memory, 0, MEM_RELEASE);
        }
        if (m_process) {
            CloseHandle(m_process);
        }
    }
    char* At(size_t offset) const { return static_cast<char*>(m_memory) + offset; }
    bool Put(const void* data, size_t size) const {
        return WriteProcessMemory(m_process, m_memory, data, size, nullptr);
    }
    bool Get(size_t offset, void* data, size_t size) const {
        return ReadProcessMemory(m_process, At(offset), data, size, nullptr);
    }
    bool Ok() const { return m_memory != nullptr; }

private:
    HANDLE m_process = nullptr;
    void* m_memory = nullptr;
};

std::string ItemText(HWND list, const Remote& remote, int row, int column) {
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = remote.At(1024);
    item.cchTextMax = 1024;
    char text[1024] = {};
    if (!remote.Put(&item, sizeof item) ||
        SendMessageA(list, LVM_GETITEMTEXTA, row, (LPARAM)remote.At(0)) < 0 ||
        !remote.Get(1024, text, sizeof text - 1)) {
        return "?";
    }
    return text;
}

HWND TrayWindow() {
    HWND tray = FindWindowA("Shell_TrayWnd", nullptr);
    return tray && IsWindowVisible(tray) ? tray : nullptr;
}

// The middle of the first icon, on the screen: at the left of a tray of its own, at the
// right of a taskbar (which has the start button); icons are 20 pixels apart.
POINT FirstIcon(HWND tray) {
    RECT client = {};
    GetClientRect(tray, &client);
    POINT at = {GetWindow(tray, GW_CHILD) ? client.right - 10 : 10, (client.bottom - client.top) / 2};
    ClientToScreen(tray, &at);
    return at;
}

bool ParseNumber(const char* text, long* value) {
    char* end = nullptr;
    *value = strtol(text, &end, 0);
    return *text && !*end;
}

int Usage() {
    fputs(
        "usage: SettingsProbe.exe [--process NAME] wait|page|list|select|click|set|text|answer|gone|tray-shown|"
        "tray-hidden|tray-click|menu|menu-key ...\n",
        stderr);
    return 2;
}

int Run(int argc, char** argv) {
    const std::string command = argv[0];
    long ms = 10000, id = 0, index = 0;
    auto arg = [&](int i) -> const char* { return i < argc ? argv[i] : nullptr; };
    auto msArg = [&](int i) { return !arg(i) || ParseNumber(arg(i), &ms); };
    if (command == "hold") {
        CreateWindowA("STATIC", "SettingsProbe hold", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                      nullptr);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            DispatchMessageA(&msg);
        }
        return 0;
    }
    if (command == "tray-shown" || command == "tray-hidden") {
        if (!msArg(1)) {
            return Usage();
        }
        const bool shown = command == "tray-shown";
        const bool ok =
            Await([&] { return (TrayWindow() != nullptr) == shown ? GetDesktopWindow() : nullptr; }, ms);
        printf("tray=%s\n", TrayWindow() ? "shown" : "hidden");
        if (HWND tray = TrayWindow()) {
            const POINT icon = FirstIcon(tray);
            printf("icon=%ld,%ld,%ld,%ld\n", icon.x - 8, icon.y - 8, icon.x + 8, icon.y + 8);
        }
        return ok ? 0 : 1;
    }
    if (command == "tray-click") {
        HWND tray = TrayWindow();
        if (!tray || !arg(1)) {
            return tray ? Usage() : 1;
        }
        const POINT screen = FirstIcon(tray);
        POINT client = screen;
        ScreenToClient(tray, &client);
        const LPARAM at = MAKELPARAM(client.x, client.y);
        // The menu opens where the pointer is: beside the icon, where no tooltip covers it.
        SetCursorPos(screen.x - 24, screen.y);
        if (strcmp(arg(1), "right") == 0) {
            PostMessageA(tray, WM_RBUTTONDOWN, MK_RBUTTON, at);
            PostMessageA(tray, WM_RBUTTONUP, 0, at);
        } else {
            PostMessageA(tray, WM_LBUTTONDOWN, MK_LBUTTON, at);
            PostMessageA(tray, WM_LBUTTONUP, 0, at);
            PostMessageA(tray, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
            PostMessageA(tray, WM_LBUTTONUP, 0, at);
        }
        return 0;
    }
    auto menu = [] {
        return Find([](HWND window) {
            char name[32] = {};
            GetClassNameA(window, name, sizeof name);
            return strcmp(name, "#32768") == 0;
        });
    };
    if (command == "menu") {
        if (!msArg(1)) {
            return Usage();
        }
        HWND found = Await(menu, ms);
        printf("menu=%s\n", found ? "shown" : "none");
        return found ? 0 : 1;
    }
    if (command == "menu-key") {
        HWND found = menu();
        if (!found || !arg(1)) {
            return found ? Usage() : 1;
        }
        if (strcmp(arg(1), "esc") == 0) {
            PostMessageA(found, WM_KEYDOWN, VK_ESCAPE, 0);
        } else {
            PostMessageA(found, WM_CHAR, (WPARAM)(unsigned char)arg(1)[0], 0);
        }
        return 0;
    }
    if (argc < 2) {
        return Usage();
    }
    const std::string title = arg(1);
    if (command == "wait" || command == "gone") {
        if (!msArg(2)) {
            return Usage();
        }
        if (command == "gone") {
            const bool ok = Await([&] { return Titled(title) ? nullptr : GetDesktopWindow(); }, ms);
            return ok ? 0 : 1;
        }
        HWND window = Await([&] { return Titled(title); }, ms);
        if (!window) {
            return 1;
        }
        RECT rect = {};
        GetWindowRect(window, &rect);
        printf("window=0x%llx\nrect=%ld,%ld,%ld,%ld\n", (unsigned long long)(uintptr_t)window, rect.left,
               rect.top, rect.right, rect.bottom);
        return 0;
    }
    if (command == "answer") {
        if (argc < 3 || !ParseNumber(arg(2), &id) || !msArg(3)) {
            return Usage();
        }
        HWND box = Await(
            [&] {
                return Find([&](HWND window) {
                    return Text(window) == title && !SendMessageA(window, PSM_GETCURRENTPAGEHWND, 0, 0) &&
                           GetDlgItem(window, (int)id);
                });
            },
            ms);
        if (!box) {
            return 1;
        }
        printf("message=%s\n", Text(GetDlgItem(box, 0xFFFF)).c_str());
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(box, (int)id));
        return 0;
    }
    HWND sheet = Titled(title);
    if (!sheet) {
        fprintf(stderr, "no window %s\n", title.c_str());
        return 1;
    }
    if (argc < 3 || !ParseNumber(arg(2), &id)) {
        return Usage();
    }
    if (command == "page") {
        SendMessageA(sheet, PSM_SETCURSEL, (WPARAM)id, 0);
        return 0;
    }
    HWND control = Control(sheet, (int)id);
    if (!control) {
        fprintf(stderr, "no control %ld\n", id);
        return 1;
    }
    if (command == "click") {
        PostMessageA(control, BM_CLICK, 0, 0);
        return 0;
    }
    if (command == "set" && arg(3)) {
        SendMessageA(control, WM_SETTEXT, 0, (LPARAM)arg(3));
        return 0;
    }
    if (command == "text") {
        printf("text=%s\n", Text(control).c_str());
        return 0;
    }
    Remote remote(control);
    if (!remote.Ok()) {
        return 1;
    }
    if (command == "list") {
        const int count = (int)SendMessageA(control, LVM_GETITEMCOUNT, 0, 0);
        const int columns =
            (int)SendMessageA((HWND)SendMessageA(control, LVM_GETHEADER, 0, 0), HDM_GETITEMCOUNT, 0, 0);
        printf("count=%d\n", count);
        for (int row = 0; row < count && row < 50; ++row) {
            std::string line;
            for (int column = 0; column < columns; ++column) {
                line += (column ? "|" : "") + ItemText(control, remote, row, column);
            }
            printf("row.%d=%s\n", row, line.c_str());
        }
        return 0;
    }
    if (command == "select" && arg(3) && ParseNumber(arg(3), &index)) {
        LVITEMA item = {};
        item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
        remote.Put(&item, sizeof item);
        return SendMessageA(control, LVM_SETITEMSTATE, (WPARAM)index, (LPARAM)remote.At(0)) ? 0 : 1;
    }
    return Usage();
}

} // namespace

int main(int argc, char** argv) {
    int at = 1;
    if (argc > 2 && strcmp(argv[1], "--process") == 0) {
        g_process = argv[2];
        at = 3;
    }
    if (argc <= at) {
        return Usage();
    }
    return Run(argc - at, argv + at);
}
