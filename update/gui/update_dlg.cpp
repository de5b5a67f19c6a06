#include "update/gui/update_dlg.h"

#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <climits>

#include "app/message_box.h"

CUpdateDlg* g_pUpdateDlg = nullptr;

CUpdateDlg::CUpdateDlg(const DownloadLimits& limits) : m_limits(limits) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setObjectName(QStringLiteral("IDD_UPDATE_106"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Download Talmira"), this));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("IDC_PROGRESS_%1").arg(kIdcProgress));
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 0);
    m_progress->setMinimumWidth(280);
    layout->addWidget(m_progress);
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
        msgbox::ShowAppMessage(QStringLiteral("업데이트 오류"));
        return m_result;
    }
    m_thread = std::jthread([this] {
        DownloadProgress progress{
            [this](int64_t total) {
                QMetaObject::invokeMethod(this, [this, total] { ShowTotal(total); }, Qt::QueuedConnection);
            },
            [this](int64_t received) {
                QMetaObject::invokeMethod(this, [this, received] { ShowReceived(received); },
                                          Qt::QueuedConnection);
            }};
        // The result is stored before the window is asked to close, so it is
        // final once the modal run has ended.
        m_result = DownloadFile(m_url, m_path, m_stop, progress, m_limits);
        QMetaObject::invokeMethod(this, [this] { done(QDialog::Accepted); }, Qt::QueuedConnection);
    });
    exec();
    // Closed early (the system menu's close): the worker gives up within about a second.
    m_stop = true;
    m_thread.join();
    return m_result;
}

void CUpdateDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter: event->accept(); return;
        default: QDialog::keyPressEvent(event);
    }
}

void CUpdateDlg::done(int r) {
    m_stop = true;
    QDialog::done(r);
}

void CUpdateDlg::ShowTotal(qint64 total) {
    if (total <= 0) {
        m_progress->setRange(0, 0);
        return;
    }
    m_shift = 0;
    while ((total >> m_shift) > INT_MAX) ++m_shift;
    m_progress->setRange(0, static_cast<int>(total >> m_shift));
    m_progress->setValue(0);
}

void CUpdateDlg::ShowReceived(qint64 received) {
    if (m_progress->maximum() == 0) return;
    m_progress->setValue(static_cast<int>(std::min<qint64>(received >> m_shift, m_progress->maximum())));
}

int RunUpdateDialog(const std::string& url, const std::string& path, int startResult) {
    if (g_pUpdateDlg != nullptr) return 0;
    g_pUpdateDlg = new CUpdateDlg();
    return g_pUpdateDlg->Run(url, path, startResult);
}

void DestroyUpdateDialog() {
    delete g_pUpdateDlg;
    g_pUpdateDlg = nullptr;
}
