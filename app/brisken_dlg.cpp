#include "app/brisken_dlg.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/about_dialog.h"
#include "app/control_ids.h"
#include "app/network_wait.h"
#include "app/progress_dlg.h"
#include "config/autostart.h"
#include "config/paths.h"
#include "config/settings.h"
#include "log/traffic_log.h"
#include "platform/clock.h"
#include "platform/launcher.h"
#include "platform/power.h"
#include "platform/process_list.h"
#include "platform/system.h"
#include "relay/relay_session.h"
#include "relay/relay_state.h"
#include "relay/serial_comm.h"

namespace {

constexpr int kTrayRetryMs = 3000;
const char* const kNoPort = "선택안함";
const char* const kNotLinked = "CAT : 비연결 | VAN : 비연결";
const char* const kExitQuestion = "정말로 종료하시겠습니까?";
const char* const kSpeeds[] = {"9600", "38400", "57600", "115200"};

// The real serial port and relay workers.
class RelayLinks : public IRelayLinks {
public:
    ~RelayLinks() override { EndPendingOpen(); }
    bool OpenSerialPort(const std::string& port, const std::string& speed) override {
        return ::OpenSerialPort(port, speed);
    }
    // The port object is made here, its open (CreateFileW, the line state)
    // runs on a thread of its own.
    void OpenSerialPortLater(const std::string& port, const std::string& speed,
                             std::function<void(std::function<void()>)> toUi,
                             std::function<void(bool)> done) override {
        EndPendingOpen();
        CSerialCommCls* link = PrepareSerialPort(port, speed);
        auto pending = std::make_shared<Pending>();
        const auto open = [link, pending, toUi, done] {
            const int code = OpenFollowingAdapter(*link, false);
            std::lock_guard lock(pending->mutex);
            pending->finished = true;
            pending->ended.notify_all();
            if (pending->orphaned) {
                ReleaseSerialLink(link);
                return;
            }
            // Handed on under the lock: a stop that comes now waits for the
            // hand-over, and the window is still there to take it.
            if (!pending->dropped)
                toUi([link, pending, code, done] {
                    if (!pending->dropped) done(FinishSerialOpen(link, code));
                });
        };
        try {
            std::thread(open).detach();
            m_pending = pending;
        } catch (const std::system_error&) {
            open();  // no thread to be had: opened here
        }
    }
    void LineLost() override { NoticeSerialLineLost(); }
    void StartWorkers(IDisplayTarget* owner) override { m_workers.Start(owner); }
    void StopRelayLinks() override {
        EndPendingOpen();
        ::StopRelayLinks(m_workers);
    }
    void ShutdownRelay() override {
        EndPendingOpen();
        ::ShutdownRelay(m_workers);
    }

private:
    struct Pending {
        std::mutex mutex;
        std::condition_variable ended;
        bool finished = false;
        bool dropped = false;   // its result is no longer wanted
        bool orphaned = false;  // the port object is the open thread's to delete
    };

    // Calls off an open still with the driver: its cancel ends the wait in the
    // device; an open that still does not return in time keeps its port
    // object, which nothing else reaches any more.
    void EndPendingOpen() {
        if (!m_pending) return;
        std::shared_ptr<Pending> pending = std::move(m_pending);
        std::unique_lock lock(pending->mutex);
        pending->dropped = true;
        if (pending->finished) return;
        lock.unlock();
        CancelCATRead();
        lock.lock();
        if (!pending->ended.wait_for(lock, std::chrono::milliseconds(RelayWorkers::kJoinWaitMs),
                                     [&] { return pending->finished; })) {
            pending->orphaned = true;
            g_relay.serialOpen.store(false);
            g_relay.serialLink.store(nullptr);
        }
    }

    RelayWorkers m_workers;
    std::shared_ptr<Pending> m_pending;
};

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

CBriskenDlg::CBriskenDlg(msgbox::IMessageBoxes& boxes, StartOptions options)
    : m_boxes(boxes), m_options(std::move(options)), m_relay(m_options.relay) {
    if (m_relay == nullptr) {
        m_ownRelay = std::make_unique<RelayLinks>();
        m_relay = m_ownRelay.get();
    }
    if (m_options.settings.portSource == nullptr)
        m_options.settings.portSource = m_options.portSource;
    g_relay.mainWindow = this;
    g_relay.statusWindow = nullptr;
    ResetKeepAlive();
    PrepareStart();
    CheckCommandLine();
}

CBriskenDlg::~CBriskenDlg() {
    DestroyWindow();
    // The workers are stopped: nothing writes the windows any more.
    g_relay.statusWindow = nullptr;
    IDisplayTarget* self = this;
    g_relay.mainWindow.compare_exchange_strong(self, nullptr);
    if (g_pAboutDlg == m_aboutBox.get()) g_pAboutDlg = nullptr;
}

void CBriskenDlg::PrepareStart() {
    if (m_options.exePath.empty()) {
        InitPathValues();
    } else {
        g_paths = DerivePathValues(m_options.exePath, platform::GetEnv("HOMEDRIVE"),
                                   platform::GetEnv("HOME"));
    }
    ConfigureTrafficLog(g_paths.exeDir + "CATLOG", g_paths.exeBase);

    // The per-user lock decides between copies started at the same moment
    // (the session's autostart and a double-click): the one that holds it
    // stays. A copy that is just ending may still hold it, so it is tried
    // through the whole wait before this copy counts as the second.
    const auto claim = [this] {
        return m_options.claimInstance
                   ? m_options.claimInstance()
                   : m_instanceLock.TryAcquire(g_paths.exeBase, g_paths.installDir);
    };
    constexpr int kClaimRetryMs = 50;
    const int64_t waitEnd = platform::MonotonicMs() + m_options.copyWaitMs;
    platform::InstanceClaim claimed = claim();
    for (int64_t left = waitEnd - platform::MonotonicMs(); left > 0;
         left = waitEnd - platform::MonotonicMs()) {
        platform::SleepMs(static_cast<int>(claimed == platform::InstanceClaim::HeldElsewhere
                                               ? std::min<int64_t>(left, kClaimRetryMs)
                                               : left));
        if (claimed == platform::InstanceClaim::HeldElsewhere) claimed = claim();
    }
    // Without a lock (no folder for it) the count decides alone, as it always
    // did: two copies started within the wait of each other both end.
    int copies = 1;
    if (claimed == platform::InstanceClaim::HeldElsewhere) {
        copies = 2;
    } else if (claimed == platform::InstanceClaim::Unavailable) {
        copies = m_options.countCopies ? m_options.countCopies(g_paths.exeName)
                                       : platform::CountRunningCopies(g_paths.exeName);
    }
    if (copies < 2) {
        LoadSettings(g_paths.iniPath);
    } else {
        // Another copy runs: end without asking and without reading the settings.
        PostQuit();
    }
}

void CBriskenDlg::CheckCommandLine() {
    if (EqualsIgnoringCase(m_options.commandLine, "/uninstall")) {
        if (m_options.deleteAutoRun)
            m_options.deleteAutoRun();
        else
            DeleteAutoRunValue();
        PostQuit();
    }
}

// ---- The window's life ------------------------------------------------------

bool CBriskenDlg::OnInitDialog(IMainWindowView& view) {
    m_view = &view;
    m_starting = true;
    const bool started = Initialise(view);
    m_starting = false;
    return started;
}

bool CBriskenDlg::Initialise(IMainWindowView& view) {
    // A network that comes up a few seconds after login is waited for here,
    // before any window or tray icon exists, so nothing a person could use is
    // kept waiting; a copy that is ending anyway (a second copy, "/uninstall")
    // checks once and does not wait.
    NetworkWait wait;
    wait.networkUp = m_options.networkUp;
    wait.boundMs = m_quitQueued ? 0 : m_options.networkWaitMs;
    wait.nowMs = m_options.nowMs;
    wait.sleep = m_options.sleepMs;
    if (!WaitForNetwork(wait)) {
        // The program ends after these messages, so they wait for their OK:
        // there is nothing to serve meanwhile, and the reason stays readable.
        m_boxes.Show(msgbox::AppMessage("인터넷이 연결되어 있지 않아 종료합니다."));
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
        m_boxes.Show(msgbox::AppMessage("오류가 있어 프로그램을 종료합니다."));
        m_closeQueued = true;
        return false;
    }
    m_confirmExit = true;
    ShowTransferState("", kNormalColour);

    FillPortList();
    view.Select(ids::kPortList, 0);

    view.ResetItems(ids::kSpeedList);
    for (const char* speed : kSpeeds) view.AddItem(ids::kSpeedList, speed);
    view.Select(ids::kSpeedList, 3);

    AddTrayIcon();
    g_relay.serialOpen = false;
    g_relay.vanConnected = false;
    g_relay.catActive = false;
    m_showAllowed = true;
    SetButtonsRunning(false);
    SetLinkText(kNotLinked);
    ShowStatusWindow(false);
    SyncSelectors();
    if (g_autoConnect) {
        // An adapter that appears a few seconds after login is not in the list
        // yet: its configured name is offered, so the connect can wait for it.
        const std::string configured = ConfiguredPortName();
        if (view.Selection(ids::kPortList) < 1 && !configured.empty()) {
            view.AddItem(ids::kPortList, configured);
            view.Select(ids::kPortList, view.ItemCount(ids::kPortList) - 1);
        }
        Connect(false);
    }
    return true;
}

int CBriskenDlg::DoModal(IMainWindowView& view) {
    const bool started = OnInitDialog(view);
    view.ShowWindow(WindowShow::Show);  // only when the show permission allows it
    m_running = true;
    if (m_quitQueued) {
        // A quit queued during start-up is taken at the loop's first turn.
        view.PostQuit();
    } else if (!started || m_closeQueued) {
        view.PostClose();
    } else if (m_options.confirmStart) {
        m_options.confirmStart();
    } else {
        // The start has reached the point where the program serves the
        // terminal: only now does an update count as a clean start, and only
        // now is a crash worth a restart.
        ConfirmCleanStart(g_paths);
        platform::RegisterCrashRestart();
    }
    if (!m_destroyed) view.RunModal();
    m_running = false;
    DestroyWindow();
    return 0;
}

void CBriskenDlg::OnDestroy() {
    DestroyWindow();
    if (m_statusWindow) m_statusWindow->Detach();
    if (m_aboutBox) m_aboutBox->Detach();
    m_view = nullptr;
}

void CBriskenDlg::PostQuit() {
    m_confirmExit = false;
    m_quitQueued = true;
    // Within the run the request ends the run's loop and any loop nested in it;
    // before the run, DoModal takes it at the loop's first turn.
    if (m_running && m_view != nullptr) m_view->PostQuit();
}

void CBriskenDlg::DestroyWindow() {
    if (m_destroyed) return;
    m_destroyed = true;
    m_showAllowed = false;
    if (m_view != nullptr) {
        if (m_trayRetrying) m_view->KillTimer(ids::kTrayRetryTimer);
        m_view->ShowWindow(WindowShow::Hide);
    }
    m_trayRetrying = false;
    m_relay->ShutdownRelay();
    m_opening = false;
    KeepAwake(false);
    DestroyUpdateDialog();
    if (m_view != nullptr) m_view->RemoveTrayIcon();
    if (m_statusWindow) m_statusWindow->Show(false);
    if (m_running && m_view != nullptr) m_view->PostQuit();
}

void CBriskenDlg::OnCommand(int id) {
    if (m_view == nullptr || m_destroyed) return;
    switch (id) {
        case ids::kConnect:
            OnConnect();
            break;
        case ids::kDisconnect:
            OnDisconnect();
            break;
        case ids::kSettings:
            OnSettingsButton();
            break;
        case ids::kMenuRestore:
            RestoreMainWindow();
            break;
        case ids::kMenuHide:
            HideMainWindow();
            break;
        case ids::kMenuShowStatus:
            ShowStatusWindow(true);
            break;
        case ids::kMenuHideStatus:
            ShowStatusWindow(false);
            break;
        case ids::kMenuAbout:
            ShowAboutBox();
            break;
        case ids::kMenuExit:
            ExitFromMenu();
            break;
        default:
            break;
    }
}

void CBriskenDlg::OnClose() {
    if (m_destroyed) return;
    if (m_confirmExit && m_boxes.Show(msgbox::WindowQuestion(
                             kExitQuestion, msgbox::Buttons::YesNo)) != msgbox::Answer::Yes) {
        return;
    }
    DestroyWindow();
}

void CBriskenDlg::OnMinimised() {
    if (m_destroyed) return;
    m_showAllowed = false;
    AddTrayIcon();
    if (g_relay.serialOpen) ShowStatusWindow(g_showStatusBox);
}

void CBriskenDlg::OnTimer(int id) {
    if (id == ids::kTrayRetryTimer) AddTrayIcon();
}

void CBriskenDlg::FillPortList() {
    const PortSource source = m_options.portSource ? m_options.portSource : &SystemSerialPorts;
    m_lastPorts = source();
    m_view->ResetItems(ids::kPortList);
    m_view->AddItem(ids::kPortList, kNoPort);
    DialogPortList ports(*m_view, ids::kPortList);
    EnumerateSerialPorts(ports, source);
}

void CBriskenDlg::OnResume() {
    if (m_destroyed || !m_connected) return;
    m_relay->LineLost();
}

void CBriskenDlg::OnDeviceChange(bool portChanged) {
    if (m_destroyed || m_view == nullptr) return;
    const PortSource source = m_options.portSource ? m_options.portSource : &SystemSerialPorts;
    if (source() == m_lastPorts && !portChanged) return;
    // Filled again, the selected port kept (offered as it stands when it has
    // gone, so a running connection still shows its port).
    const int index = m_view->Selection(ids::kPortList);
    const std::string selected = index >= 1 ? m_view->ItemText(ids::kPortList, index) : "";
    FillPortList();
    int keep = 0;
    const int count = m_view->ItemCount(ids::kPortList);
    for (int i = 1; i < count && !selected.empty(); ++i) {
        if (m_view->ItemText(ids::kPortList, i) == selected) {
            keep = i;
            break;
        }
    }
    if (keep == 0 && !selected.empty()) {
        m_view->AddItem(ids::kPortList, selected);
        keep = count;
    }
    m_view->Select(ids::kPortList, keep);
    if (m_settingDlg != nullptr) m_settingDlg->RefillPortList();
    if (m_connected) m_relay->LineLost();
}

// ---- Display lines ----------------------------------------------------------

void CBriskenDlg::Post(std::function<void()> fn) {
    // Always queued, also from this thread: the lines end on the last value
    // written, in the order written, whoever wrote it.
    m_display.Post(m_view, std::move(fn));
}

void CBriskenDlg::SetLinkText(const std::string& text) {
    Post([this, text] {
        m_linkText = text;
        m_view->SetText(ids::kLinkLine, text);
    });
}

void CBriskenDlg::SetProgressText(const std::string& text) {
    Post([this, text] { m_view->SetText(ids::kProgressLine, text); });
}

void CBriskenDlg::SetTransferState(const std::string& text, uint32_t colour) {
    Post([this, text, colour] { ShowTransferState(text, colour); });
}

void CBriskenDlg::PortFollowed(const std::string& port) {
    Post([this, port] {
        StorePortItem(port);
        const int count = m_view->ItemCount(ids::kPortList);
        for (int i = 1; i < count; ++i) {
            if (m_view->ItemText(ids::kPortList, i) == port) {
                m_view->Select(ids::kPortList, i);
                return;
            }
        }
        m_view->AddItem(ids::kPortList, port);
        m_view->Select(ids::kPortList, count);
    });
}

void CBriskenDlg::ShowTransferState(const std::string& text, uint32_t colour) {
    m_view->SetText(ids::kMainTransferText, text);
    m_view->SetIndicatorColour(colour);
}

// ---- Connection control -----------------------------------------------------

int CBriskenDlg::GetSelectedPortNumber() const {
    const int index = m_view->Selection(ids::kPortList);
    if (index < 1) return 0;
    const std::string text = m_view->ItemText(ids::kPortList, index);
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
    const int index = m_view->Selection(ids::kPortList);
    if (index < 1) return {};
    return m_view->ItemText(ids::kPortList, index);
}

void CBriskenDlg::SetButtonsRunning(bool running) {
    m_connected = running;
    m_view->Enable(ids::kConnect, !running);
    m_view->Enable(ids::kDisconnect, running);
    m_view->Enable(ids::kPortList, !running);
    m_view->Enable(ids::kSpeedList, !running);
}

void CBriskenDlg::OnConnect() { Connect(true); }

void CBriskenDlg::Connect(bool clicked) {
    // A "COMn" item has its number; a device-path item has none and is opened
    // by its name.
    const std::string port = GetSelectedPortName();
    const bool usable = GetSelectedPortNumber() > 0 || (!port.empty() && port.front() == '/');
    if (!usable) {
        ShowAppMessage("통신포트 선택에 문제가 있습니다.");
        return;
    }
    if (m_opening) return;  // the driver has not answered the last Connect yet
    const int speedIndex = m_view->Selection(ids::kSpeedList);
    const std::string speed =
        speedIndex < 0 ? std::string() : m_view->ItemText(ids::kSpeedList, speedIndex);
    // The window keeps serving while the driver opens the port (a Bluetooth
    // port takes seconds); the rest follows when it has answered.
    m_opening = true;
    // The start's own connect hides the window whatever the open gives.
    if (!clicked) m_showAllowed = false;
    IMainWindowView* view = m_view;
    m_relay->OpenSerialPortLater(
        port, speed, [view](std::function<void()> fn) { view->PostToUi(std::move(fn)); },
        [this, clicked](bool opened) { OnPortOpened(clicked, opened); });
}

void CBriskenDlg::OnPortOpened(bool clicked, bool opened) {
    m_opening = false;
    if (m_destroyed || m_view == nullptr) return;
    if (!opened) {
        // Queued behind what the open itself wrote, so this text is the one that stays.
        Post([this] { ShowTransferState("시리얼 연결 오류", kErrorColour); });
        if (clicked) {
            Tell(msgbox::WindowQuestion("시리얼 연결 오류\n\n선택한 포트가 사용 중인지 확인해 보세요.",
                                        msgbox::Buttons::OkCancel));
            return;
        }
        // The start's own connect: the adapter may appear a few seconds after
        // login, or another program may hold the port for a moment, and nobody
        // may be at the PC to click. The relay runs and the terminal worker
        // tries the port every 2 s; Disconnect stops that.
    } else {
        Post([this] { ShowTransferState("", kNormalColour); });
    }
    m_relay->StartWorkers(this);
    SetButtonsRunning(true);
    KeepAwake(true);
    m_showAllowed = false;
    m_view->ShowWindow(WindowShow::Hide);
    ShowStatusWindow(g_showStatusBox);
}

void CBriskenDlg::StopRelay() {
    m_relay->StopRelayLinks();
    m_opening = false;
    SetButtonsRunning(false);
    KeepAwake(false);
}

// Serial traffic is no user input: without this the system's idle timer puts
// a PC to sleep under a connected terminal. A user's or a policy's explicit
// sleep still happens (the resume then opens the line again).
void CBriskenDlg::KeepAwake(bool on) {
    if (m_awake == on) return;
    m_awake = on;
    if (m_options.keepAwake) {
        m_options.keepAwake(on);
    } else {
        platform::KeepSystemAwake(on);
    }
}

void CBriskenDlg::OnDisconnect() { StopRelay(); }

void CBriskenDlg::ShutdownRelay() { m_relay->ShutdownRelay(); }

// ---- Settings ---------------------------------------------------------------

void CBriskenDlg::SyncSelectors() {
    DialogPortList ports(*m_view, ids::kPortList);
    SelectPortItem(ports);
    m_view->Select(ids::kSpeedList, SpeedIndex(g_comSpeed));
}

void CBriskenDlg::OnSettingsButton() {
    CSettingDlg dialog(this, m_boxes, m_options.settings);
    {
        const std::unique_ptr<ISettingView> view = m_view->CreateSettingDialog(dialog);
        m_settingDlg = &dialog;
        dialog.DoModal(*view);
        m_settingDlg = nullptr;
    }
    // The program is ending (the dialog's uninstall): nothing is reconnected.
    if (m_quitQueued || m_destroyed) return;
    if (dialog.m_applyNow != 1) {
        // While connected the lists keep showing the running connection.
        if (!m_connected) SyncSelectors();
        return;
    }
    if (m_connected || m_opening) StopRelay();
    SyncSelectors();
    if (g_autoConnect) OnConnect();
}

// ---- Status window and about box --------------------------------------------

void CBriskenDlg::ShowStatusWindow(bool show) {
    if (!m_statusWindow) {
        m_statusWindow = std::make_unique<CProgressDlg>();
        m_statusWindow->OnInitDialog(m_view->CreateStatusWindow(*m_statusWindow));
        g_relay.statusWindow = m_statusWindow.get();
    }
    m_statusWindow->Show(show);
    if (show) m_statusWindow->SetLinkTextNow(m_linkText);
}

void CBriskenDlg::ShowAboutBox() {
    if (!m_aboutBox) {
        m_aboutBox = std::make_unique<CAboutDialog>();
        m_aboutBox->OnInitDialog(m_view->CreateAboutBox(*m_aboutBox));
        g_pAboutDlg = m_aboutBox.get();
    }
    m_aboutBox->Show();
}

// ---- Tray -------------------------------------------------------------------

void CBriskenDlg::AddTrayIcon() {
    if (m_destroyed || m_view == nullptr) return;
    if (m_view->AddTrayIcon()) {
        if (m_trayRetrying) m_view->KillTimer(ids::kTrayRetryTimer);
        m_trayRetrying = false;
    } else if (!m_trayRetrying) {
        // No notification area yet (the desktop may still be starting): try again.
        m_view->SetTimer(ids::kTrayRetryTimer, kTrayRetryMs);
        m_trayRetrying = true;
    }
}

void CBriskenDlg::OnTrayClick(TrayClick click) {
    if (click == TrayClick::Double) RestoreMainWindow();
}

void CBriskenDlg::RestoreMainWindow() {
    m_showAllowed = true;
    m_view->ShowWindow(WindowShow::Restore);
}

void CBriskenDlg::HideMainWindow() {
    m_showAllowed = false;
    m_view->ShowWindow(WindowShow::Minimise);
    AddTrayIcon();
}

void CBriskenDlg::ExitFromMenu() {
    if (m_boxes.Show(msgbox::WindowQuestion(kExitQuestion, msgbox::Buttons::YesNo)) ==
        msgbox::Answer::Yes) {
        DestroyWindow();
    }
}

// ---- Update host ------------------------------------------------------------

void CBriskenDlg::ShowAppMessage(const std::string& text) { Tell(msgbox::AppMessage(text)); }

void CBriskenDlg::Tell(const msgbox::Request& request) {
    // A start may have nobody at the PC (it starts with the session): the
    // terminal is served while the notice waits for its OK.
    if (m_starting) {
        m_boxes.Notify(request);
    } else {
        m_boxes.Show(request);
    }
}

int CBriskenDlg::RunDownloadWindow(const std::string& url, const std::string& path,
                                   int startResult) {
    return RunUpdateDialog(
        [this](CUpdateDlg& rules) { return m_view->CreateDownloadWindow(rules); }, m_boxes, url,
        path, startResult, m_options.download);
}
