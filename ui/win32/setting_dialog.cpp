#include "ui/win32/setting_dialog.h"

using namespace win32face;

Win32SettingDialog::Win32SettingDialog(CSettingDlg& rules, HWND owner)
    : Controls<ISettingView>(static_cast<const Dialog&>(*this)), m_rules(rules), m_owner(owner) {
    Create(kIdSettingDialog, owner);
}

Win32SettingDialog::~Win32SettingDialog() {
    if (m_owner != nullptr) EnableWindow(m_owner, TRUE);
    Destroy();
}

bool Win32SettingDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (msg) {
        case WM_INITDIALOG:
            SendMessageW(Handle(), WM_SETICON, ICON_SMALL,
                         reinterpret_cast<LPARAM>(SmallAppIcon()));
            result = TRUE;
            return true;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            if (id == CSettingDlg::IDC_PORTLIST || id == CSettingDlg::IDC_SPEEDLIST) {
                // A selection by the user; CB_SETCURSEL of the rules sends none.
                if (code == CBN_SELCHANGE) m_rules.OnSelChange(id);
            } else if (code == BN_CLICKED && id != IDOK && id != IDCANCEL) {
                m_rules.OnCommand(id);
            }
            return true;
        }
        case WM_CLOSE:
            m_rules.OnClose();
            return true;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORDLG:
            result =
                reinterpret_cast<INT_PTR>(WhiteStaticColours(msg, reinterpret_cast<HDC>(wParam)));
            return true;
        default:
            (void)lParam;
            return false;
    }
}

void Win32SettingDialog::PostClose() {
    if (Handle() != nullptr) PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void Win32SettingDialog::EndDialog() {
    m_ended = true;
    // The owner comes back before this window goes, so it takes the activation.
    if (m_owner != nullptr) EnableWindow(m_owner, TRUE);
    if (Handle() != nullptr) ::ShowWindow(Handle(), SW_HIDE);
    WakeMessageLoop();
}

void Win32SettingDialog::RunModal() {
    if (Handle() == nullptr) return;
    if (m_owner != nullptr) EnableWindow(m_owner, FALSE);
    ::ShowWindow(Handle(), SW_SHOW);
    RunMessageLoop(&m_ended, true);
    if (m_owner != nullptr) EnableWindow(m_owner, TRUE);
    Destroy();
}
