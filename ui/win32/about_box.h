#pragma once
#include <functional>

// The rules name the icon picture IDC_ICON, which windows.h also defines.
#pragma push_macro("IDC_ICON")
#undef IDC_ICON
#include "app/about_dialog.h"
#pragma pop_macro("IDC_ICON")
#include "ui/win32/win32_dialog.h"

// The about box (resource 105): modeless, owned by the main window, hidden by
// its close box; the help links are SysLink controls whose clicks go to the
// rules, and pages open with ShellExecuteW.
class Win32AboutBox : public win32face::Dialog, public win32face::Controls<IAboutView> {
public:
    using UrlOpener = std::function<void(const std::string& url)>;
    // opener: how a page is opened (tests put their own); empty: ShellExecuteW.
    Win32AboutBox(CAboutDialog& rules, HWND owner, UrlOpener opener = {});
    ~Win32AboutBox() override { Destroy(); }

    // IAboutView.
    void SetLinkUrl(int id, const std::string& url) override;
    void MarkLinkVisited(int id) override;
    void OpenUrl(const std::string& url) override;
    void ShowWindow(WindowShow how) override;

    void SetOpener(UrlOpener opener) { m_opener = std::move(opener); }
    // For tests: the link's address and whether it shows as visited.
    std::string LinkUrl(int id) const;
    bool LinkVisited(int id) const;

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    CAboutDialog& m_rules;
    UrlOpener m_opener;
    win32face::Font m_titleFont{12, L"굴림체"};
};
