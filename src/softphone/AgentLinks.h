// What the softphone side needs from the parts above it, as small interfaces: the main
// dialog (status, event log, ring blink, the call recorder), the application (its
// configuration reader and the registry root), the IVR manager, and the error box. Each
// is handed in by its owner; a missing one makes the client do without (traffic lines go
// to the trace only, and so on).
#pragma once

#include "devicelink/Imm.h"

#include <windows.h>

#include <string>

class COrvinApiClient;
class CMessageEngine;

// The main dialog as the API client sees it. Called on the GUI thread.
class IOrvinAgentDialog {
public:
    virtual ~IOrvinAgentDialog() = default;
    virtual void SetApiClient(COrvinApiClient* client) = 0;
    virtual void SetMessageEngine(CMessageEngine* engine) = 0;
    virtual void SetRegistryRoot(const std::string& root) = 0;
    virtual void RefreshStatus() = 0;
    virtual void AddTrafficLine(const char* text, int direction) = 0;
    virtual void RingIndicationOn() = 0;
    virtual void RingIndicationOff() = 0;
    virtual void BusyIndication() = 0;
    // The call recorder the dialog owns: whether it records, and stop it (on suspend).
    virtual bool IsCallRecording() = 0;
    virtual void StopCallRecording() = 0;
};

// The application as the API client sees it.
class IOrvinAgentApplication {
public:
    virtual ~IOrvinAgentApplication() = default;
    virtual void LoadRegistryParameters() = 0;
};
void SetAgentApplication(IOrvinAgentApplication* application);
IOrvinAgentApplication* GetAgentApplication();

// The IVR manager as the API client sees it: IVR events from the service go to it, and
// the power decision asks whether a voice dialogue runs.
class IIvrManagerLink {
public:
    virtual ~IIvrManagerLink() = default;
    virtual void PostIvrEvent(const IMM& message) = 0;
    virtual bool HasActiveStateMachines() = 0;
    // The client goes: every voice dialogue ends and the manager with them. Called once.
    virtual void Release() = 0;
};
// Makes (or returns) the IVR manager singleton for a client; none until one is installed.
typedef IIvrManagerLink* (*IvrManagerFactory)(COrvinApiClient* client, const std::string& root);
void SetIvrManagerFactory(IvrManagerFactory factory);
IvrManagerFactory GetIvrManagerFactory();

// The user-interface translator: the translated text `id`, or `fallback` when there is no
// translation (or no translator).
typedef const char* (*TranslateFunction)(int id);
void SetTranslator(TranslateFunction function);
const char* TranslatedText(int id, const char* fallback);

// The error box: one box for the whole run, shown without blocking the caller. A plain
// message box on a thread of its own stands in for the real box.
typedef void (*ErrorBoxFunction)(const char* caption, const char* message, COrvinApiClient* owner);
void SetErrorBox(ErrorBoxFunction function);
void ShowErrorBox(const char* caption, const char* message, COrvinApiClient* owner);
