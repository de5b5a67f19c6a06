#include "app/brisken_dlg.h"

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
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "app/about_dialog.h"
#include "app/app_icon.h"
#include "app/control_ids.h"
#include "app/message_box.h"
#include "app/progress_dlg.h"
#include "app/transfer_bar.h"
#include "config/gui/combo_port_list.h"
#include "config/gui/dialog_keys.h"
#include "config/gui/setting_dlg.h"
#include "config/paths.h"
#include "config/settings.h"
#include "log/traffic_log.h"
#include "platform/clock.h"
#include "platform/network.h"
#include "platform/process_list.h"
#include "platform/system.h"
#include "relay/relay_state.h"
#include "relay/serial_comm.h"
#include "update/gui/update_dlg.h"

namespace {

constexpr int kTrayRetryMs = 3000;
const char* const kNoPort = "선택안함";
const char* const kNotLinked = "CAT : 비연결 | VAN : 비연결";
const char* const kExitQuestion = "정말로 종료하시겠습니까?";

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

CBriskenDlg::CBriskenDlg(StartOptions options)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      m_options(std::move(options)) {
    g_relay.mainWindow = this;
    g_relay.statusWindow = nullptr;
    g_relay.keepAliveTicks = 5;
    PrepareStart();
    CheckCommandLine();
    BuildControls();
    m_trayRetry.setInterval(kTrayRetryMs);
    connect(&m_trayRetry, &QTimer::timeout, this, &CBriskenDlg::AddTrayIcon);
}

CBriskenDlg::~CBriskenDlg() {
    DestroyWindow();
    // The workers are stopped: nothing writes the windows any more.
    g_relay.statusWindow = nullptr;
    IDisplayTarget* self = this;
    g_relay.mainWindow.compare_exchange_strong(self, nullptr);
    m_statusWindow.reset();
}

void CBriskenDlg::PrepareStart() {
    if (m_options.exePath.empty()) {
        InitPathValues();
    } else {
        g_paths = DerivePathValues(m_options.exePath, platform::GetEnv("HOMEDRIVE"),
                                   platform::GetEnv("HOME"));
    }
    ConfigureTrafficLog(g_paths.exeDir + "CATLOG", g_paths.exeBase);

    // Two copies started within this wait of each other both see two and both end.
    platform::SleepMs(m_options.copyWaitMs);
    const int copies = m_options.countCopies ? m_options.countCopies(g_paths.exeName)
                                             : platform::CountRunningCopies(g_paths.exeName);
    if (copies < 2) {
        LoadSettings(g_paths.iniPath);
    } else {
        // Another copy runs: end without asking and without reading the settings.
        PostQuit();
    }
}

void CBriskenDlg::CheckCommandLine() {
    if (QString::fromStdString(m_options.commandLine)
            .compare(QStringLiteral("/uninstall"), Qt::CaseInsensitive) == 0) {
        DeleteAutoRunValue();
        PostQuit();
    }
}

void CBriskenDlg::BuildControls() {
    setWindowTitle(Q(ids::kProductName));
    setWindowIcon(AppIcon());

    PaintWhite(this);

    m_portList = new QComboBox(this);
    m_portList->setObjectName(QString::number(ids::kPortList));
    m_speedList = new QComboBox(this);
    m_speedList->setObjectName(QString::number(ids::kSpeedList));
    m_linkText = SunkenLine(ids::kLinkLine, this);
    m_progressText = SunkenLine(ids::kProgressLine, this);
    m_transferBar = new TransferBar(ids::kMainBar, ids::kMainTransferText, this);
    m_connectButton = Button(ids::kConnect, "연결", this);
    m_disconnectButton = Button(ids::kDisconnect, "끊기", this);
    m_settingsButton = Button(ids::kSettings, "설정", this);

    auto* status = new QGroupBox(QStringLiteral("STATUS"), this);
    auto* grid = new QGridLayout(status);
    grid->addWidget(new QLabel(Q("통신포트 "), status), 0, 0);
    grid->addWidget(m_portList, 0, 1);
    grid->addWidget(new QLabel(Q("통신속도 "), status), 1, 0);
    grid->addWidget(m_speedList, 1, 1);
    grid->addWidget(new QLabel(Q("연결상태 "), status), 2, 0);
    grid->addWidget(m_linkText, 2, 1);
    grid->addWidget(new QLabel(Q("진행상태 "), status), 3, 0);
    grid->addWidget(m_progressText, 3, 1);
    grid->addWidget(new QLabel(Q("전송상태 "), status), 4, 0);
    grid->addWidget(m_transferBar, 4, 1);

    auto* control = new QGroupBox(QStringLiteral("CONTROL"), this);
    auto* controlRow = new QHBoxLayout(control);
    controlRow->addWidget(m_connectButton);
    controlRow->addWidget(m_disconnectButton);

    auto* setting = new QGroupBox(QStringLiteral("SETTING"), this);
    auto* settingRow = new QHBoxLayout(setting);
    settingRow->addWidget(m_settingsButton);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(control, 2);
    bottom->addWidget(setting, 1);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(status);
    outer->addLayout(bottom);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_connectButton, &QPushButton::clicked, this, &CBriskenDlg::OnConnect);
    connect(m_disconnectButton, &QPushButton::clicked, this, &CBriskenDlg::OnDisconnect);
    connect(m_settingsButton, &QPushButton::clicked, this, &CBriskenDlg::OnSettingsButton);

    DiscardEnterEscape(this);
}

bool CBriskenDlg::Initialise() {
    m_initialised = true;
    const bool network =
        m_options.networkUp ? m_options.networkUp() : platform::HasNetworkConnection();
    if (!network) {
        msgbox::ShowAppMessage(Q("인터넷이 연결되어 있지 않아 종료합니다."));
        m_closeQueued = true;
        return false;
    }
    if (m_options.installSelf) {
        m_options.installSelf(*this);
    } else {
        InstallSelf(*this);
    }
    const int update = m_options.checkUpdate ? m_options.checkUpdate(*this) : CheckUpdate(*this);
    if (update != 1) {
        msgbox::ShowAppMessage(Q("오류가 있어 프로그램을 종료합니다."));
        m_closeQueued = true;
        return false;
    }
    m_confirmExit = true;
    m_transferBar->SetState(QString(), kNormalColour);

    m_portList->clear();
    m_portList->addItem(Q(kNoPort));
    ComboPortList ports(*m_portList);
    EnumerateSerialPorts(ports, m_options.portSource ? m_options.portSource : &SystemSerialPorts);
    m_portList->setCurrentIndex(0);

    m_speedList->clear();
    for (const char* speed : {"9600", "38400", "57600", "115200"}) m_speedList->addItem(Q(speed));
    m_speedList->setCurrentIndex(3);

    AddTrayIcon();
    g_relay.serialOpen = false;
    g_relay.vanConnected = false;
    g_relay.catActive = false;
    m_showAllowed = true;
    SetButtonsRunning(false);
    SetLinkText(kNotLinked);
    ShowStatusWindow(false);
    SyncSelectors();
    if (g_autoConnect) OnConnect();
    return true;
}

int CBriskenDlg::Run() {
    const bool started = Initialise();
    show();  // only when the show permission allows it
    m_running = true;
    if (m_quitQueued) {
        // A quit queued during start-up is taken at the loop's first turn.
        QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    } else if (!started || m_closeQueued) {
        QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
    }
    if (!m_destroyed) QApplication::exec();
    m_running = false;
    DestroyWindow();
    return 0;
}

void CBriskenDlg::PostQuit() {
    m_confirmExit = false;
    m_quitQueued = true;
    // Within the run the request ends the run's loop and any loop nested in it;
    // before the run, Run takes it at the loop's first turn.
    if (m_running) QCoreApplication::exit(0);
}

void CBriskenDlg::DestroyWindow() {
    if (m_destroyed) return;
    m_destroyed = true;
    m_trayRetry.stop();
    m_showAllowed = false;
    QDialog::setVisible(false);
    ::ShutdownRelay(m_workers);
    DestroyUpdateDialog();
    if (m_trayIcon != nullptr) {
        m_trayIcon->hide();
        delete m_trayIcon;
        m_trayIcon = nullptr;
    }
    if (m_statusWindow) m_statusWindow->hide();
    if (m_running) QCoreApplication::exit(0);
}

void CBriskenDlg::setVisible(bool visible) {
    // Without the show permission nothing makes the window visible.
    if (visible && !m_showAllowed) return;
    QDialog::setVisible(visible);
}

void CBriskenDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (m_destroyed) return;
    if (m_confirmExit &&
        msgbox::Ask(this, Q(kExitQuestion), msgbox::Buttons::YesNo) != msgbox::Answer::Yes) {
        return;
    }
    DestroyWindow();
}

void CBriskenDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || m_destroyed) return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool minimisedNow = (windowState() & Qt::WindowMinimized) != 0;
    const bool wasMinimised = (change->oldState() & Qt::WindowMinimized) != 0;
    if (!minimisedNow || wasMinimised) return;
    m_showAllowed = false;
    AddTrayIcon();
    if (g_relay.serialOpen) ShowStatusWindow(g_showStatusBox);
}

// ---- Display lines ----------------------------------------------------------

void CBriskenDlg::PostToWindow(std::function<void()> fn) {
    // Always queued, also from this thread: the lines end on the last value
    // written, in the order written, whoever wrote it.
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void CBriskenDlg::SetLinkText(const std::string& text) {
    PostToWindow([this, t = QString::fromStdString(text)] { m_linkText->setText(t); });
}

void CBriskenDlg::SetProgressText(const std::string& text) {
    PostToWindow([this, t = QString::fromStdString(text)] { m_progressText->setText(t); });
}

void CBriskenDlg::SetTransferState(const std::string& text, uint32_t colour) {
    PostToWindow(
        [this, t = QString::fromStdString(text), colour] { m_transferBar->SetState(t, colour); });
}

uint32_t CBriskenDlg::BarColour() const { return m_transferBar->Colour(); }

// ---- Connection control -----------------------------------------------------

int CBriskenDlg::GetSelectedPortNumber() const {
    const int index = m_portList->currentIndex();
    if (index < 1) return 0;
    const std::string text = m_portList->itemText(index).toStdString();
    if (text.size() <= 3) return 0;
    const std::string rest = text.substr(3);
    errno = 0;
    char* end = nullptr;
    const long n = std::strtol(rest.c_str(), &end, 10);
    if (end == rest.c_str()) return 0;
    if (errno == ERANGE || n > INT_MAX) return INT_MAX;
    if (n < INT_MIN) return INT_MIN;
    return static_cast<int>(n);
}

std::string CBriskenDlg::GetSelectedPortName() const {
    const int index = m_portList->currentIndex();
    if (index < 1) return {};
    return m_portList->itemText(index).toStdString();
}

void CBriskenDlg::SetButtonsRunning(bool running) {
    m_connectButton->setEnabled(!running);
    m_disconnectButton->setEnabled(running);
    m_portList->setEnabled(!running);
    m_speedList->setEnabled(!running);
}

void CBriskenDlg::OnConnect() {
    // A "COMn" item has its number; a device-path item has none and is opened
    // by its name.
    const std::string port = GetSelectedPortName();
    const bool usable = GetSelectedPortNumber() > 0 || (!port.empty() && port.front() == '/');
    if (!usable) {
        msgbox::ShowAppMessage(Q("통신포트 선택에 문제가 있습니다."));
        return;
    }
    const std::string speed = m_speedList->currentText().toStdString();
    if (!OpenSerialPort(port, speed)) {
        // Queued behind what the open itself wrote, so this text is the one that stays.
        PostToWindow([this] { m_transferBar->SetState(Q("시리얼 연결 오류"), kErrorColour); });
        msgbox::Ask(this, Q("시리얼 연결 오류\n\n선택한 포트가 사용 중인지 확인해 보세요."),
                    msgbox::Buttons::OkCancel);
        return;
    }
    PostToWindow([this] { m_transferBar->SetState(QString(), kNormalColour); });
    m_workers.Start(this);
    SetButtonsRunning(true);
    m_showAllowed = false;
    hide();
    ShowStatusWindow(g_showStatusBox);
}

void CBriskenDlg::StopRelay() {
    // Stops both workers without waiting on a blocked read, closes the port,
    // drops the VAN link (no ESC: the port is gone), clears the progress line
    // and refreshes the link line.
    StopRelayLinks(m_workers);
    SetButtonsRunning(false);
}

void CBriskenDlg::OnDisconnect() { StopRelay(); }

void CBriskenDlg::ShutdownRelay() { ::ShutdownRelay(m_workers); }

// ---- Settings ---------------------------------------------------------------

void CBriskenDlg::SyncSelectors() {
    ComboPortList ports(*m_portList);
    SelectPortItem(ports);
    m_speedList->setCurrentIndex(SpeedIndex(g_comSpeed));
}

void CBriskenDlg::OnSettingsButton() {
    int applyNow = 0;
    if (m_options.runSettingsDialog) {
        applyNow = m_options.runSettingsDialog(this, this);
    } else {
        CSettingDlg dialog(this, static_cast<IMainWindowControl*>(this));
        dialog.exec();
        applyNow = dialog.m_applyNow;
    }
    // The program is ending (the dialog's uninstall): nothing is reconnected.
    if (m_quitQueued) return;
    const bool connected = !m_connectButton->isEnabled();
    if (applyNow != 1) {
        // While connected the lists keep showing the running connection.
        if (!connected) SyncSelectors();
        return;
    }
    if (connected) StopRelay();
    SyncSelectors();
    if (g_autoConnect) OnConnect();
}

// ---- Status window ----------------------------------------------------------

void CBriskenDlg::ShowStatusWindow(bool show) {
    if (!m_statusWindow) {
        m_statusWindow = std::make_unique<CProgressDlg>(m_options.screenRect);
        g_relay.statusWindow = m_statusWindow.get();
    }
    if (show) {
        m_statusWindow->show();
        m_statusWindow->SetLinkTextNow(m_linkText->text());
    } else {
        m_statusWindow->hide();
    }
}

// ---- Tray -------------------------------------------------------------------

void CBriskenDlg::BuildTrayMenu() {
    m_trayMenu = std::make_unique<QMenu>();
    auto add = [this](int id, const char* text, void (CBriskenDlg::*handler)()) {
        QAction* action = m_trayMenu->addAction(Q(text));
        action->setObjectName(QString::number(id));
        connect(action, &QAction::triggered, this, handler);
    };
    add(ids::kMenuRestore, "화면 열기", &CBriskenDlg::RestoreMainWindow);
    add(ids::kMenuHide, "화면 숨기기", &CBriskenDlg::HideMainWindow);
    m_trayMenu->addSeparator();
    QAction* showStatus = m_trayMenu->addAction(Q("상태창 열기"));
    showStatus->setObjectName(QString::number(ids::kMenuShowStatus));
    connect(showStatus, &QAction::triggered, this, [this] { ShowStatusWindow(true); });
    QAction* hideStatus = m_trayMenu->addAction(Q("상태창 숨기기"));
    hideStatus->setObjectName(QString::number(ids::kMenuHideStatus));
    connect(hideStatus, &QAction::triggered, this, [this] { ShowStatusWindow(false); });
    m_trayMenu->addSeparator();
    add(ids::kMenuAbout, "정보...", &CBriskenDlg::OnAboutCommand);
    m_trayMenu->addSeparator();
    add(ids::kMenuExit, "종료", &CBriskenDlg::ExitFromMenu);
}

void CBriskenDlg::AddTrayIcon() {
    if (m_destroyed) return;
    if (m_trayIcon == nullptr) {
        BuildTrayMenu();
        m_trayIcon = new QSystemTrayIcon(AppIcon(), this);
        m_trayIcon->setToolTip(Q(ids::kProductName));
        m_trayIcon->setContextMenu(m_trayMenu.get());
        connect(m_trayIcon, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::DoubleClick) RestoreMainWindow();
                });
    }
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_trayIcon->show();
        m_trayRetry.stop();
    } else if (!m_trayRetry.isActive()) {
        // No notification area yet (the desktop may still be starting): try again.
        m_trayRetry.start();
    }
}

void CBriskenDlg::RestoreMainWindow() {
    m_showAllowed = true;
    showNormal();
    raise();
    activateWindow();
}

void CBriskenDlg::HideMainWindow() {
    m_showAllowed = false;
    showMinimized();
    AddTrayIcon();
}

void CBriskenDlg::ExitFromMenu() {
    if (msgbox::Ask(this, Q(kExitQuestion), msgbox::Buttons::YesNo) == msgbox::Answer::Yes) {
        DestroyWindow();
    }
}

void CBriskenDlg::OnAboutCommand() {
    if (m_options.showAboutBox) {
        m_options.showAboutBox(this);
        return;
    }
    ShowAboutBox(this);
}

// ---- Update host ------------------------------------------------------------

void CBriskenDlg::ShowAppMessage(const std::string& text) {
    msgbox::ShowAppMessage(QString::fromStdString(text));
}

int CBriskenDlg::RunDownloadWindow(const std::string& url, const std::string& path,
                                   int startResult) {
    return RunUpdateDialog(url, path, startResult);
}
