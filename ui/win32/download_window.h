#pragma once
#include "ui/win32/win32_dialog.h"
#include "app/update_dlg.h"

// The download window (resource 106): caption-less, always on top, no owner;
// run modally while the rules' worker downloads, its bar moved through the
// window's queue.
class Win32DownloadWindow : public win32face::Dialog, public IDownloadView {
public:
    explicit Win32DownloadWindow(CUpdateDlg& rules);
    ~Win32DownloadWindow() override;

    // IDownloadView.
    void SetProgressRange(int max) override;
    void SetProgressPos(int pos) override;
    void EndDialog() override;
    void RunModal() override;
    void PostToUi(std::function<void()> fn) override;

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    CUpdateDlg& m_rules;
    win32face::UiQueue m_queue;
    bool m_ended = false;
};
