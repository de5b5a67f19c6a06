#include "ui/qt/download_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

QtDownloadWindow::QtDownloadWindow(CUpdateDlg& rules)
    : m_rules(rules), m_progress(new QProgressBar(this)) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Download Talmira"), this));
    m_progress->setObjectName(QString::number(CUpdateDlg::kIdcProgress));
    m_progress->setTextVisible(false);
    m_progress->setMinimumWidth(280);
    layout->addWidget(m_progress);
}

void QtDownloadWindow::SetProgressRange(int max) { m_progress->setRange(0, max); }

void QtDownloadWindow::SetProgressPos(int pos) { m_progress->setValue(pos); }

void QtDownloadWindow::EndDialog() { done(QDialog::Accepted); }

void QtDownloadWindow::RunModal() { exec(); }

void QtDownloadWindow::PostToUi(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void QtDownloadWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void QtDownloadWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    m_rules.OnClose();
}
