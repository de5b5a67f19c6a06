#include "app/progress_dlg.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSlider>

#include "app/app_icon.h"
#include "app/control_ids.h"
#include "app/transfer_bar.h"
#include "config/gui/dialog_keys.h"

namespace {

QLabel* SunkenLine(int id, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::number(id));
    label->setAlignment(Qt::AlignCenter);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setMinimumWidth(220);
    return label;
}

}  // namespace

CProgressDlg::CProgressDlg(ScreenRect screenRect)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      m_screenRect(std::move(screenRect)),
      m_linkText(SunkenLine(ids::kStatusLinkLine, this)),
      m_progressText(SunkenLine(ids::kProgressLine, this)),
      m_transferBar(new TransferBar(ids::kStatusBar, ids::kStatusTransferText, this)),
      m_alphaSlider(new QSlider(Qt::Horizontal, this)) {
    setWindowTitle(QStringLiteral("Talmira STATUS"));
    setWindowIcon(AppIcon());
    setModal(false);

    PaintWhite(this);

    m_alphaSlider->setObjectName(QString::number(ids::kAlphaSlider));
    m_alphaSlider->setTickPosition(QSlider::NoTicks);
    m_alphaSlider->setRange(100, 255);
    m_alphaSlider->setSingleStep(1);
    m_alphaSlider->setPageStep(5);
    m_alphaSlider->setValue(255);
    connect(m_alphaSlider, &QSlider::valueChanged, this, &CProgressDlg::OnSliderMoved);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("투명화"), this), 0, 0);
    grid->addWidget(m_alphaSlider, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("연결상태"), this), 1, 0);
    grid->addWidget(m_linkText, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("진행상태"), this), 2, 0);
    grid->addWidget(m_progressText, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("전송상태"), this), 3, 0);
    grid->addWidget(m_transferBar, 3, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    m_transferBar->SetState(QString(), kNormalColour);
    DiscardEnterEscape(this);
    adjustSize();
    PlaceOnScreen();
}

void CProgressDlg::PlaceOnScreen() {
    QRect screen;
    if (m_screenRect) {
        screen = m_screenRect();
    } else if (const QScreen* primary = QGuiApplication::primaryScreen()) {
        screen = primary->geometry();
    }
    if (screen.isEmpty()) return;
    const QSize size = frameGeometry().size();
    move(screen.x() + screen.width() - size.width() - 2,
         screen.y() + screen.height() - size.height() - 35);
}

void CProgressDlg::OnSliderMoved(int value) {
    m_alpha = value;
    setWindowOpacity(m_alpha / 255.0);
}

void CProgressDlg::closeEvent(QCloseEvent* event) {
    // The close box only hides: texts, place and opacity stay for the next show.
    event->ignore();
    hide();
}

void CProgressDlg::SetLinkTextNow(const QString& text) { m_linkText->setText(text); }

QString CProgressDlg::LinkText() const { return m_linkText->text(); }

// Every write is queued, also from this thread, so the lines always end on the
// last value written, in the order written.
void CProgressDlg::SetLinkText(const std::string& text) {
    QMetaObject::invokeMethod(
        this, [this, t = QString::fromStdString(text)] { m_linkText->setText(t); },
        Qt::QueuedConnection);
}

void CProgressDlg::SetProgressText(const std::string& text) {
    QMetaObject::invokeMethod(
        this, [this, t = QString::fromStdString(text)] { m_progressText->setText(t); },
        Qt::QueuedConnection);
}

void CProgressDlg::SetTransferState(const std::string& text, uint32_t colour) {
    QMetaObject::invokeMethod(
        this,
        [this, t = QString::fromStdString(text), colour] { m_transferBar->SetState(t, colour); },
        Qt::QueuedConnection);
}
