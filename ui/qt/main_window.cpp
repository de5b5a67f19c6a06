#include "ui/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include "app/control_ids.h"
#include "platform/power.h"
#include "ui/qt/about_box.h"
#include "ui/qt/app_icon.h"
#include "ui/qt/dialog_keys.h"
#include "ui/qt/download_window.h"
#include "ui/qt/setting_dialog.h"
#include "ui/qt/status_window.h"
#include "ui/qt/transfer_bar.h"

namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

QLabel* SunkenLine(int id, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::number(id));
    label->setAlignment(Qt::AlignCenter);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setMinimumWidth(260);
    return label;
}

QPushButton* Button(int id, const char* text, QWidget* parent) {
    auto* button = new QPushButton(Q(text), parent);
    button->setObjectName(QString::number(id));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

QtMainWindow::QtMainWindow(CBriskenDlg& rules)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      QtControls<IMainWindowView>(this),
      m_rules(rules) {
    // The program lives in the tray: hiding or closing windows never ends it;
    // the main window's destruction does.
    QApplication::setQuitOnLastWindowClosed(false);
    BuildControls();
}

QtMainWindow::~QtMainWindow() {
    m_resumeWatch.reset();  // no notice is posted to a window that is going
    m_rules.OnDestroy();
}

void QtMainWindow::BuildControls() {
    setWindowTitle(Q(ids::kProductName));
    setWindowIcon(AppIcon());

    PaintWhite(this);

    auto* portList = new QComboBox(this);
    portList->setObjectName(QString::number(ids::kPortList));
    // Linux tells no window of serial devices coming and going: the rules
    // look at the port list every 3 s (a changed list refills it).
    auto* portWatch = new QTimer(this);
    connect(portWatch, &QTimer::timeout, this, [this] { m_rules.OnDeviceChange(false); });
    portWatch->start(3000);
    m_resumeWatch = std::make_unique<platform::ResumeWatch>(
        [this] { PostToUi([this] { m_rules.OnResume(); }); });
    auto* speedList = new QComboBox(this);
    speedList->setObjectName(QString::number(ids::kSpeedList));
    m_transferBar = new TransferBar(ids::kMainBar, ids::kMainTransferText, this);

    auto* status = new QGroupBox(QStringLiteral("STATUS"), this);
    auto* grid = new QGridLayout(status);
    grid->addWidget(new QLabel(Q("통신포트 "), status), 0, 0);
    grid->addWidget(portList, 0, 1);
    grid->addWidget(new QLabel(Q("통신속도 "), status), 1, 0);
    grid->addWidget(speedList, 1, 1);
    grid->addWidget(new QLabel(Q("연결상태 "), status), 2, 0);
    grid->addWidget(SunkenLine(ids::kLinkLine, this), 2, 1);
    grid->addWidget(new QLabel(Q("진행상태 "), status), 3, 0);
    grid->addWidget(SunkenLine(ids::kProgressLine, this), 3, 1);
    grid->addWidget(new QLabel(Q("전송상태 "), status), 4, 0);
    grid->addWidget(m_transferBar, 4, 1);

    auto* control = new QGroupBox(QStringLiteral("CONTROL"), this);
    auto* controlRow = new QHBoxLayout(control);
    auto* setting = new QGroupBox(QStringLiteral("SETTING"), this);
    auto* settingRow = new QHBoxLayout(setting);
    struct ButtonDef {
        int id;
        const char* text;
        QHBoxLayout* row;
    };
    for (const ButtonDef& b : {ButtonDef{ids::kConnect, "연결", controlRow},
                               ButtonDef{ids::kDisconnect, "끊기", controlRow},
                               ButtonDef{ids::kSettings, "설정", settingRow}}) {
        QPushButton* button = Button(b.id, b.text, this);
        b.row->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, id = b.id] { m_rules.OnCommand(id); });
    }

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(control, 2);
    bottom->addWidget(setting, 1);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(status);
    outer->addLayout(bottom);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    DiscardEnterEscape(this);
}

void QtMainWindow::setVisible(bool visible) {
    // Without the show permission nothing makes the window visible.
    if (visible && !m_rules.ShowAllowed()) return;
    QDialog::setVisible(visible);
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    m_rules.OnClose();
}

void QtMainWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool minimisedNow = (windowState() & Qt::WindowMinimized) != 0;
    const bool wasMinimised = (change->oldState() & Qt::WindowMinimized) != 0;
    if (minimisedNow && !wasMinimised) m_rules.OnMinimised();
}

void QtMainWindow::SetIndicatorColour(uint32_t colour) { m_transferBar->SetColour(colour); }

uint32_t QtMainWindow::BarColour() const { return m_transferBar->Colour(); }

void QtMainWindow::ShowWindow(WindowShow how) {
    switch (how) {
        case WindowShow::Hide:
            hide();
            break;
        case WindowShow::Show:
            show();
            break;
        case WindowShow::Minimise:
            showMinimized();
            break;
        case WindowShow::Restore:
            showNormal();
            raise();
            activateWindow();
            break;
    }
}

bool QtMainWindow::AddTrayIcon() {
    if (m_trayIcon == nullptr) {
        m_trayMenu = std::make_unique<QMenu>();
        for (const ids::MenuItem& item : ids::kTrayMenu) {
            if (item.id == 0) {
                m_trayMenu->addSeparator();
                continue;
            }
            QAction* action = m_trayMenu->addAction(Q(item.text));
            action->setObjectName(QString::number(item.id));
            connect(action, &QAction::triggered, this,
                    [this, id = item.id] { m_rules.OnCommand(id); });
        }
        m_trayIcon = new QSystemTrayIcon(AppIcon(), this);
        m_trayIcon->setToolTip(Q(ids::kProductName));
        // The toolkit opens the menu on the icon's right button by itself.
        m_trayIcon->setContextMenu(m_trayMenu.get());
        connect(m_trayIcon, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Context) return;
                    m_rules.OnTrayClick(reason == QSystemTrayIcon::DoubleClick ? TrayClick::Double
                                                                               : TrayClick::Single);
                });
    }
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
    m_trayIcon->show();
    return true;
}

void QtMainWindow::RemoveTrayIcon() {
    if (m_trayIcon == nullptr) return;
    m_trayIcon->hide();
    delete m_trayIcon;
    m_trayIcon = nullptr;
}

void QtMainWindow::SetTimer(int id, int ms) {
    QTimer*& timer = m_timers[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, id] { m_rules.OnTimer(id); });
    }
    timer->start(ms);
}

void QtMainWindow::KillTimer(int id) {
    if (auto it = m_timers.find(id); it != m_timers.end()) it->second->stop();
}

void QtMainWindow::PostClose() {
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

void QtMainWindow::PostQuit() {
    // Queued on the application, so it is taken by whichever loop runs next
    // (before the run starts, by the run's first turn) and ends every loop.
    QMetaObject::invokeMethod(
        qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void QtMainWindow::PostToUi(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void QtMainWindow::RunModal() { QApplication::exec(); }

IStatusView& QtMainWindow::CreateStatusWindow(CProgressDlg& rules) {
    m_statusWindow = std::make_unique<QtStatusWindow>(rules);
    return *m_statusWindow;
}

IAboutView& QtMainWindow::CreateAboutBox(CAboutDialog& rules) {
    m_aboutBox = new QtAboutBox(rules, this);
    return *m_aboutBox;
}

std::unique_ptr<ISettingView> QtMainWindow::CreateSettingDialog(CSettingDlg& rules) {
    return std::make_unique<QtSettingDialog>(rules, this);
}

std::unique_ptr<IDownloadView> QtMainWindow::CreateDownloadWindow(CUpdateDlg& rules) {
    return std::make_unique<QtDownloadWindow>(rules);
}
