#pragma once
// windows.h first, the headers that build on it after it.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <memory>

#include "app/brisken_dlg.h"
#include "ui/win32/win32_dialog.h"

class Win32AboutBox;
class Win32StatusWindow;

// The main window (resource 102) with the tray icon and its menu (resource
// 129): forwards clicks, menu commands, the close box, the minimise, tray
// clicks and timers to the rules. Shown only while the rules' show permission
// allows it. Its loop is the program's only message loop.
class Win32MainWindow : public win32face::Dialog, public win32face::Controls<IMainWindowView> {
public:
    // The tray icon's messages.
    static constexpr UINT kTrayNotify = WM_USER + 1;
    static constexpr UINT kTrayIconId = 1;

    explicit Win32MainWindow(CBriskenDlg& rules);
    ~Win32MainWindow() override;

    // IMainWindowView.
    void SetIndicatorColour(uint32_t colour) override;
    void ShowWindow(WindowShow how) override;
    bool AddTrayIcon() override;
    void RemoveTrayIcon() override;
    void SetTimer(int id, int ms) override;
    void KillTimer(int id) override;
    void PostClose() override;
    void PostQuit() override;
    void PostToUi(std::function<void()> fn) override;
    void RunModal() override;
    IStatusView& CreateStatusWindow(CProgressDlg& rules) override;
    IAboutView& CreateAboutBox(CAboutDialog& rules) override;
    std::unique_ptr<ISettingView> CreateSettingDialog(CSettingDlg& rules) override;
    std::unique_ptr<IDownloadView> CreateDownloadWindow(CUpdateDlg& rules) override;

    // For tests.
    uint32_t BarColour() const { return m_barColour; }
    bool TrayIconAdded() const { return m_trayAdded; }
    Win32StatusWindow* StatusWindow() const { return m_statusWindow.get(); }
    Win32AboutBox* AboutBox() const { return m_aboutBox.get(); }

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void TextChanged(int id) override;

private:
    void ShowTrayMenu();
    NOTIFYICONDATAW TrayData() const;
    void RepaintBar();

    CBriskenDlg& m_rules;
    win32face::UiQueue m_queue;
    win32face::Font m_barFont{20, L"Arial"};
    win32face::ColourBrush m_barBrush;
    uint32_t m_barColour = 0;
    bool m_trayAdded = false;   // the last add or modify succeeded
    bool m_trayWanted = false;  // added by the rules and not removed since
    UINT m_taskbarCreated = 0;
    std::unique_ptr<Win32StatusWindow> m_statusWindow;
    std::unique_ptr<Win32AboutBox> m_aboutBox;
};
