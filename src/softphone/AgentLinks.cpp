#include "softphone/AgentLinks.h"

#include <process.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

IOrvinAgentApplication* g_pApplication = nullptr;
IvrManagerFactory g_pIvrManagerFactory = nullptr;
ErrorBoxFunction g_pErrorBox = nullptr;
TranslateFunction g_pTranslate = nullptr;
std::atomic<bool> g_bPlainBoxShown{false};

struct PlainBox {
    char caption[128];
    char message[512];
};

// One plain box at a time, like the real one.
unsigned __stdcall PlainBoxThread(void* data) {
    PlainBox* box = static_cast<PlainBox*>(data);
    MessageBoxA(nullptr, box->message, box->caption, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    free(box);
    g_bPlainBoxShown = false;
    return 0;
}

} // namespace

void SetAgentApplication(IOrvinAgentApplication* application) {
    g_pApplication = application;
}
IOrvinAgentApplication* GetAgentApplication() {
    return g_pApplication;
}

void SetIvrManagerFactory(IvrManagerFactory factory) {
    g_pIvrManagerFactory = factory;
}
IvrManagerFactory GetIvrManagerFactory() {
    return g_pIvrManagerFactory;
}

void SetTranslator(TranslateFunction function) {
    g_pTranslate = function;
}

const char* TranslatedText(int id, const char* fallback) {
    const char* text = g_pTranslate ? g_pTranslate(id) : nullptr;
    return text && *text ? text : fallback;
}

void SetErrorBox(ErrorBoxFunction function) {
    g_pErrorBox = function;
}

void ShowErrorBox(const char* caption, const char* message, COrvinApiClient* owner) {
    if (g_pErrorBox) {
        g_pErrorBox(caption, message, owner);
        return;
    }
    if (g_bPlainBoxShown.exchange(true)) {
        return;
    }
    PlainBox* box = static_cast<PlainBox*>(calloc(1, sizeof(PlainBox)));
    if (!box) {
        g_bPlainBoxShown = false;
        return;
    }
    strncpy(box->caption, caption ? caption : "", sizeof box->caption - 1);
    strncpy(box->message, message ? message : "", sizeof box->message - 1);
    HANDLE thread = (HANDLE)_beginthreadex(nullptr, 0, PlainBoxThread, box, 0, nullptr);
    if (!thread) {
        free(box);
        g_bPlainBoxShown = false;
        return;
    }
    CloseHandle(thread);
}
