#include "app/update_dlg.h"

#include <algorithm>
#include <climits>

CUpdateDlg* g_pUpdateDlg = nullptr;

CUpdateDlg::CUpdateDlg(MakeView makeView, msgbox::IMessageBoxes& boxes, DownloadFn download)
    : m_makeView(std::move(makeView)), m_boxes(boxes), m_download(std::move(download)) {
    if (!m_download) {
        m_download = [](const std::string& url, const std::string& path,
                        const std::atomic<bool>& stop, const DownloadProgress& progress) {
            return DownloadFile(url, path, stop, progress);
        };
    }
}

CUpdateDlg::~CUpdateDlg() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

int CUpdateDlg::Run(const std::string& url, const std::string& path, int startResult) {
    m_url = url;
    m_path = path;
    m_result = startResult;
    m_stop = false;
    if (m_result != 0) {
        // The window runs only within the start's version check, which never
        // waits for a click.
        m_boxes.Notify(msgbox::AppMessage("업데이트 오류"));
        return m_result;
    }
    const std::unique_ptr<IDownloadView> view = m_makeView(*this);
    m_view = view.get();
    ShowTotal(0);
    m_thread = std::jthread([this] {
        DownloadProgress progress{
            [this](int64_t total) { Post([this, total] { ShowTotal(total); }); },
            [this](int64_t received) { Post([this, received] { ShowReceived(received); }); }};
        // The result is stored before the window is asked to close, so it is
        // final once the modal run has ended.
        m_result = m_download(m_url, m_path, m_stop, progress);
        Post([this] {
            m_stop = true;
            m_view->EndDialog();
        });
    });
    m_view->RunModal();
    // Closed early (the system menu's close, a quit): the worker gives up
    // within about a second.
    m_stop = true;
    m_thread.join();
    m_view = nullptr;
    return m_result;
}

void CUpdateDlg::Post(std::function<void()> fn) {
    // A write that arrives after the run has ended finds no window and is dropped.
    m_view->PostToUi([this, fn = std::move(fn)] {
        if (m_view != nullptr) fn();
    });
}

void CUpdateDlg::OnClose() {
    m_stop = true;
    if (m_view != nullptr) m_view->EndDialog();
}

void CUpdateDlg::ShowTotal(int64_t total) {
    m_shift = 0;
    m_max = 0;
    if (total > 0) {
        while ((total >> m_shift) > INT_MAX) ++m_shift;
        m_max = static_cast<int>(total >> m_shift);
    }
    m_view->SetProgressRange(m_max);
    if (m_max > 0) m_view->SetProgressPos(0);
}

void CUpdateDlg::ShowReceived(int64_t received) {
    if (m_max == 0) return;
    m_view->SetProgressPos(static_cast<int>(std::min<int64_t>(received >> m_shift, m_max)));
}

int RunUpdateDialog(CUpdateDlg::MakeView makeView, msgbox::IMessageBoxes& boxes,
                    const std::string& url, const std::string& path, int startResult,
                    DownloadFn download) {
    if (g_pUpdateDlg != nullptr) return 0;
    g_pUpdateDlg = new CUpdateDlg(std::move(makeView), boxes, std::move(download));
    return g_pUpdateDlg->Run(url, path, startResult);
}

void DestroyUpdateDialog() {
    delete g_pUpdateDlg;
    g_pUpdateDlg = nullptr;
}
