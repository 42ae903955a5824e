// The Greeting page: what callers hear when the answering machine takes a call. Play the
// user's greeting, delete it (callers then hear the standard prompt), or take a WAV file
// as the new one (converted to the prompts' format; one that cannot be converted is
// refused in words and the old greeting stays).
//
// Threads: the GUI thread.
#pragma once

#include "settings/SettingsPage.h"
#include "settings/model/Greeting.h"

class CGreetingPage : public CSettingsPage {
public:
    explicit CGreetingPage(CSettingsSheet& sheet);

protected:
    void OnInit() override;
    void OnShow() override { Refresh(); }
    void OnCommand(UINT id, UINT code) override;

private:
    void Refresh();
    void Import();

    CGreeting m_Greeting;
};
