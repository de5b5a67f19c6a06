#include "ui/qt/status_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>

#include "app/control_ids.h"
#include "ui/qt/app_icon.h"
#include "ui/qt/dialog_keys.h"
#include "ui/qt/transfer_bar.h"

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

QtStatusWindow::QtStatusWindow(CProgressDlg& rules)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      QtControls<IStatusView>(this),
      m_rules(rules),
      m_transferBar(new TransferBar(ids::kStatusBar, ids::kStatusTransferText, this)) {
    setWindowTitle(QStringLiteral("Talmira STATUS"));
    setWindowIcon(AppIcon());
    setModal(false);

    PaintWhite(this);

    auto* slider = new QSlider(Qt::Horizontal, this);
    slider->setObjectName(QString::number(ids::kAlphaSlider));
    slider->setTickPosition(QSlider::NoTicks);
    connect(slider, &QSlider::valueChanged, this, [this] { m_rules.OnHScroll(); });

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("투명화"), this), 0, 0);
    grid->addWidget(slider, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("연결상태"), this), 1, 0);
    grid->addWidget(SunkenLine(ids::kStatusLinkLine, this), 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("진행상태"), this), 2, 0);
    grid->addWidget(SunkenLine(ids::kProgressLine, this), 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("전송상태"), this), 3, 0);
    grid->addWidget(m_transferBar, 3, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    DiscardEnterEscape(this);
    adjustSize();
    // A panel that moves or grows takes the window back into the corner.
    if (QScreen* primary = QGuiApplication::primaryScreen())
        connect(primary, &QScreen::availableGeometryChanged, this,
                [this] { m_rules.PlaceOnScreen(); });
}

void QtStatusWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    m_rules.OnClose();
}

QSlider* QtStatusWindow::Slider(int id) const {
    return qobject_cast<QSlider*>(qtface::Control(this, id));
}

void QtStatusWindow::SetIndicatorColour(uint32_t colour) { m_transferBar->SetColour(colour); }

uint32_t QtStatusWindow::BarColour() const { return m_transferBar->Colour(); }

void QtStatusWindow::SetSliderRange(int id, int min, int max, int lineStep, int pageStep) {
    if (QSlider* slider = Slider(id)) {
        const QSignalBlocker quiet(slider);
        slider->setRange(min, max);
        slider->setSingleStep(lineStep);
        slider->setPageStep(pageStep);
    }
}

void QtStatusWindow::SetSliderPos(int id, int pos) {
    if (QSlider* slider = Slider(id)) {
        const QSignalBlocker quiet(slider);
        slider->setValue(pos);
    }
}

int QtStatusWindow::SliderPos(int id) const {
    const QSlider* slider = Slider(id);
    return slider == nullptr ? 0 : slider->value();
}

void QtStatusWindow::SetOpacity(int alpha) { setWindowOpacity(alpha / 255.0); }

void QtStatusWindow::ShowWindow(WindowShow how) {
    if (how == WindowShow::Hide)
        hide();
    else
        show();
}

Rect QtStatusWindow::WorkArea() const {
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr) return {};
    const QRect r = primary->availableGeometry();
    return {r.x(), r.y(), r.width(), r.height()};
}

Rect QtStatusWindow::WindowRect() const {
    const QRect r = frameGeometry();
    return {r.x(), r.y(), r.width(), r.height()};
}

void QtStatusWindow::MoveWindow(int x, int y) { move(x, y); }

void QtStatusWindow::PostToUi(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}
