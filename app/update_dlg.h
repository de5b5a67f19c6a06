#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/message_box.h"
#include "update/download.h"

// The download window as a face draws it: "Download Talmira" over the progress
// bar 1035, caption-less and always on top.
class IDownloadView {
public:
    virtual ~IDownloadView() = default;
    // The bar counts 0..max; a max of 0 shows activity without a length.
    virtual void SetProgressRange(int max) = 0;
    virtual void SetProgressPos(int pos) = 0;
    // Ends the modal run.
    virtual void EndDialog() = 0;
    // Runs the window modally until EndDialog, or until a quit (left queued for
    // the loop outside).
    virtual void RunModal() = 0;
    // Runs fn on the user-interface thread, later, in posting order; dropped
    // when the window is gone. Any thread.
    virtual void PostToUi(std::function<void()> fn) = 0;
};

// What the worker runs: DownloadFile with the program's limits, unless a test
// puts its own here.
using DownloadFn =
    std::function<int(const std::string& url, const std::string& path,
                      const std::atomic<bool>& stop, const DownloadProgress& progress)>;

// The download window's rules: a worker thread downloads one file while the
// window runs modally; the window closes itself when the download has ended.
class CUpdateDlg {
public:
    static constexpr int kIdcProgress = 1035;
    using MakeView = std::function<std::unique_ptr<IDownloadView>(CUpdateDlg&)>;

    // makeView builds the window when Run needs it.
    CUpdateDlg(MakeView makeView, msgbox::IMessageBoxes& boxes, DownloadFn download = {});
    // Stops a download still running and waits for the worker.
    ~CUpdateDlg();

    // Downloads url into path while the window runs modally. startResult -1:
    // "업데이트 오류" is shown instead (a notice nothing waits for), and
    // neither window nor download happen.
    // Returns m_result: 1 when path holds the complete, valid download; otherwise
    // not 1. User-interface thread.
    int Run(const std::string& url, const std::string& path, int startResult);
    int result() const { return m_result.load(); }

    // The window's close request (its system menu): the modal run ends and the
    // worker gives up.
    void OnClose();

private:
    // Hands fn to the window's thread (worker thread, while the window runs).
    void Post(std::function<void()> fn);
    void ShowTotal(int64_t total);
    void ShowReceived(int64_t received);

    MakeView m_makeView;
    msgbox::IMessageBoxes& m_boxes;
    DownloadFn m_download;
    // Set before the worker starts and cleared after it has been joined, so the
    // worker reads it without a lock.
    IDownloadView* m_view = nullptr;
    std::string m_url;
    std::string m_path;
    std::atomic<int> m_result{0};
    std::atomic<bool> m_stop{false};
    int m_max = 0;    // the bar's range
    int m_shift = 0;  // the bar counts in 2^m_shift bytes when a length exceeds its int range
    std::jthread m_thread;
};

// The main window's side: one download window per process, used through these.
// User-interface thread only.

// The one download window of the process (null until first needed).
extern CUpdateDlg* g_pUpdateDlg;

// Creates g_pUpdateDlg on first use and runs it (CUpdateDlg::Run). A second
// call in the same process runs nothing and returns 0.
int RunUpdateDialog(CUpdateDlg::MakeView makeView, msgbox::IMessageBoxes& boxes,
                    const std::string& url, const std::string& path, int startResult,
                    DownloadFn download = {});

// The main window's destroy handling: stops a download still running and
// deletes g_pUpdateDlg.
void DestroyUpdateDialog();
