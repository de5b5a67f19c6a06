#include "ui/win32/download_window.h"

#include <commctrl.h>

using namespace win32face;

Win32DownloadWindow::Win32DownloadWindow(CUpdateDlg& rules) : m_rules(rules) {
    Create(kIdDownloadWindow, nullptr);
    m_queue.Open(Handle());
}

Win32DownloadWindow::~Win32DownloadWindow() {
    m_queue.Close();
    Destroy();
}

bool Win32DownloadWindow::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    (void)wParam;
    (void)lParam;
    switch (msg) {
        case WM_INITDIALOG:
            result = TRUE;
            return true;
        case WM_CLOSE:
            m_rules.OnClose();
            return true;
        case WM_COMMAND:
            return true;  // no key dismisses the window
        case kRunQueued:
            m_queue.RunQueued();
            return true;
        case WM_DESTROY:
            m_queue.Close();
            return true;
        default:
            return false;
    }
}

void Win32DownloadWindow::SetProgressRange(int max) {
    HWND bar = Item(CUpdateDlg::kIdcProgress);
    if (bar == nullptr) return;
    // A bar without a length shows activity instead.
    LONG_PTR style = GetWindowLongPtrW(bar, GWL_STYLE);
    if (max <= 0) {
        SetWindowLongPtrW(bar, GWL_STYLE, style | PBS_MARQUEE);
        SendMessageW(bar, PBM_SETMARQUEE, TRUE, 50);
    } else {
        SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
        SetWindowLongPtrW(bar, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
        SendMessageW(bar, PBM_SETRANGE32, 0, max);
    }
}

void Win32DownloadWindow::SetProgressPos(int pos) {
    SendDlgItemMessageW(Handle(), CUpdateDlg::kIdcProgress, PBM_SETPOS, static_cast<WPARAM>(pos),
                        0);
}

void Win32DownloadWindow::EndDialog() {
    m_ended = true;
    if (Handle() != nullptr) ::ShowWindow(Handle(), SW_HIDE);
    WakeMessageLoop();
}

void Win32DownloadWindow::RunModal() {
    if (Handle() == nullptr) return;
    ::ShowWindow(Handle(), SW_SHOW);
    RunMessageLoop(&m_ended, true);
}

void Win32DownloadWindow::PostToUi(std::function<void()> fn) { m_queue.Post(std::move(fn)); }
