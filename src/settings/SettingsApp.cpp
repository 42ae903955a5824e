#include "settings/SettingsApp.h"

#include "base/trace/Trace.h"
#include "base/translate/Translator.h"
#include "settings/model/SettingsLocation.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstring>
#include <vector>

namespace {

constexpr const char* kInstanceMutex = "Local\\OrvinSettings.Instance";
const char* const kPageNames[] = {"softphone", "answering",  "messages",
                                  "greeting",  "recordings", "diagnostics"};

std::string g_root; // for the translator, which asks for the root through a plain function

void GiveRoot(char* buffer, size_t capacity) {
    lstrcpynA(buffer, g_root.c_str(), (int)capacity);
}

std::vector<std::string> Arguments(const char* commandLine) {
    std::vector<std::string> arguments;
    int count = 0;
    const int length = MultiByteToWideChar(CP_ACP, 0, commandLine, -1, nullptr, 0);
    std::wstring wide((size_t)(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, commandLine, -1, &wide[0], length);
    // CommandLineToArgvW takes the program's name first: one is put in front.
    LPWSTR* words = CommandLineToArgvW((L"x " + std::wstring(wide.c_str())).c_str(), &count);
    for (int i = 1; words && i < count; ++i) {
        char text[1024] = {};
        WideCharToMultiByte(CP_ACP, 0, words[i], -1, text, sizeof text, nullptr, nullptr);
        arguments.push_back(text);
    }
    LocalFree(words);
    return arguments;
}

} // namespace

CSettingsApp::~CSettingsApp() {
    m_pSheet.reset();
    if (m_hInstanceMutex) {
        CloseHandle(m_hInstanceMutex);
    }
    CTranslator::DestroyInstance();
}

bool CSettingsApp::ParseCommandLine(const char* commandLine) {
    const std::vector<std::string> arguments = Arguments(commandLine ? commandLine : "");
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "-hide") {
            m_bHide = true;
        } else if (argument == "--page" && i + 1 < arguments.size()) {
            const std::string& name = arguments[++i];
            m_nPage = -1;
            for (int page = 0; page < CSettingsSheet::kPageCount; ++page) {
                if (name == kPageNames[page]) {
                    m_nPage = page;
                }
            }
            if (m_nPage < 0) {
                return false;
            }
        } else if (argument == "--root" && i + 1 < arguments.size()) {
            m_Root = arguments[++i];
        } else {
            return false;
        }
    }
    return true;
}

bool CSettingsApp::HandOverToFirstInstance() {
    m_hInstanceMutex = CreateMutexA(nullptr, FALSE, kInstanceMutex);
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    HWND first = FindWindowA(CAgentLink::kWindowClass, nullptr);
    if (!first) {
        return false; // a name held by something else: this one serves
    }
    if (!m_bHide) {
        DWORD processId = 0;
        GetWindowThreadProcessId(first, &processId);
        AllowSetForegroundWindow(processId);
        PostMessageA(first, CAgentLink::ShowMessage(), (WPARAM)m_nPage, 0);
    }
    return true;
}

int CSettingsApp::Run(const char* commandLine) {
    // The agent's trace file is the agent's: this program never writes it.
    orvin::TraceKeepOff();
    if (!ParseCommandLine(commandLine)) {
        MessageBoxA(
            nullptr,
            "OrvinSettings.exe [-hide] [--page softphone|answering|messages|greeting|recordings|diagnostics] "
            "[--root KEY]",
            CSettingsSheet::kCaption, MB_ICONWARNING | MB_OK);
        return 2;
    }
    if (HandOverToFirstInstance()) {
        return 0;
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); // the folder dialog
    const SettingsLocation location = FindSettingsLocation(m_Root);
    g_root = location.root;
    CTranslator::SetRegistryRootFinder(GiveRoot);
    m_pSheet = std::make_unique<CSettingsSheet>(location, m_Agent);
    m_Agent.Create([this](int page) { m_pSheet->Show(page); });
    if (!m_bHide && !m_pSheet->Show(m_nPage)) {
        return 1;
    }
    MessageLoop();
    m_pSheet.reset();
    CoUninitialize();
    return 0;
}

void CSettingsApp::MessageLoop() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        const bool wasOpen = m_pSheet->IsOpen();
        if (!m_pSheet->PreTranslate(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (wasOpen && !m_pSheet->IsOpen() && !m_bHide) {
            break;
        }
    }
}
