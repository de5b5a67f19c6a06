#pragma once
#include <QDialog>

#include <atomic>
#include <string>
#include <thread>

#include "update/download.h"

class QProgressBar;

// The download window: caption-less, always on top, "Download Talmira" over a
// progress bar. A worker thread downloads one file while the window runs
// modally; the window closes itself when the download has ended.
class CUpdateDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kIdcProgress = 1035;

    explicit CUpdateDlg(const DownloadLimits& limits = {});
    // Stops a download still running and waits for the worker.
    ~CUpdateDlg() override;

    // Downloads url into path while the window runs modally. startResult -1:
    // "업데이트 오류" is shown instead and nothing is downloaded. Returns m_result:
    // 1 when path holds the complete, valid download; otherwise not 1.
    int Run(const std::string& url, const std::string& path, int startResult);
    int result() const { return m_result.load(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void done(int r) override;

private:
    void ShowTotal(qint64 total);
    void ShowReceived(qint64 received);

    DownloadLimits m_limits;
    QProgressBar* m_progress = nullptr;
    std::string m_url;
    std::string m_path;
    std::atomic<int> m_result{0};
    std::atomic<bool> m_stop{false};
    int m_shift = 0;  // the bar counts in 2^m_shift bytes when a length exceeds its int range
    std::jthread m_thread;
};

// The main window's side: one download window per process, used through these.
// User-interface thread only.

// The one download window of the process (null until first needed).
extern CUpdateDlg* g_pUpdateDlg;

// Creates g_pUpdateDlg on first use and runs it (CUpdateDlg::Run). A second
// call in the same process runs nothing and returns 0.
int RunUpdateDialog(const std::string& url, const std::string& path, int startResult);

// The main window's destroy handling: stops a download still running and
// deletes g_pUpdateDlg.
void DestroyUpdateDialog();
