#pragma once
#include <QDialog>

#include "app/update_dlg.h"

class QProgressBar;

// The download window in Qt: caption-less, always on top, "Download Talmira"
// over the progress bar; Escape and Enter do nothing, and a close request from
// the system menu is forwarded to the rules.
class QtDownloadWindow : public QDialog, public IDownloadView {
public:
    explicit QtDownloadWindow(CUpdateDlg& rules);

    // IDownloadView.
    void SetProgressRange(int max) override;
    void SetProgressPos(int pos) override;
    void EndDialog() override;
    void RunModal() override;
    void PostToUi(std::function<void()> fn) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    CUpdateDlg& m_rules;
    QProgressBar* m_progress;
};
