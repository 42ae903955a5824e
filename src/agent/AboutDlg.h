// CAboutDlg: the About box the tray menu opens, modal over the main dialog. It shows the
// product data of the agent's registry root (ProductName, ProviderName, ProviderURL,
// ApplicationName, AppProviderName, SWVersion), the provider's web link when both the
// provider's name and URL are there, and a custom icon when the Windows folder has
// CustAboutIco.ico. Given the main dialog's shown connection flags, it looks at them
// every 500 ms and ends itself once the adapter is no longer attached.
//
// Threads: the GUI thread (a nested modal loop of the main dialog's thread).
#pragma once

#include "agent/DialogBase.h"
#include "agent/Hyperlink.h"

#include <cstdint>
#include <string>

class CAboutDlg : public CDialogBase {
public:
    static constexpr UINT_PTR kWatchTimer = 1;
    static constexpr UINT kWatchMs = 500;
    static constexpr int32_t kAdapterAttached = 0x02;

    // `shownFlags` may be null: then the box stays until closed.
    CAboutDlg(const std::string& registryRoot, const int32_t* shownFlags);
    ~CAboutDlg() override;

    const std::string& ProductName() const { return m_ProductName; }
    const CHyperlink& Link() const { return m_Link; }

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnCommand(UINT id, UINT code, HWND control) override;
    void OnDestroy() override;

private:
    void ReadRegistry();
    void LoadCustomIcon();

    std::string m_RegistryRoot;
    std::string m_ProductName;
    std::string m_ProviderName;
    std::string m_ProviderURL;
    std::string m_ApplicationName;
    std::string m_AppProviderName;
    std::string m_SWVersion;
    HICON m_hCustomIcon = nullptr;
    const int32_t* m_pShownFlags;
    UINT_PTR m_uTimer = 0;
    CHyperlink m_Link;
};
