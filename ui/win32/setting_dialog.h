#pragma once
#include "app/setting_dlg.h"
#include "ui/win32/win32_dialog.h"

// The settings dialog (resource 103), run modally over the main window:
// clicks, the user's list selections and the close request go to the rules.
class Win32SettingDialog : public win32face::Dialog, public win32face::Controls<ISettingView> {
public:
    Win32SettingDialog(CSettingDlg& rules, HWND owner);
    ~Win32SettingDialog() override;

    // ISettingView.
    void PostClose() override;
    void EndDialog() override;
    void RunModal() override;

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    CSettingDlg& m_rules;
    HWND m_owner;
    bool m_ended = false;
};
