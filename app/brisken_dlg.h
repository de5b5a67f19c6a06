#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dialog_controls.h"
#include "app/display_queue.h"
#include "app/main_window_control.h"
#include "app/message_box.h"
#include "app/setting_dlg.h"
#include "app/update_dlg.h"
#include "config/port_discovery.h"
#include "platform/instance_lock.h"
#include "relay/display.h"
#include "update/update_check.h"

class CAboutDialog;
class CProgressDlg;
class IAboutView;
class IStatusView;

// The main window as a face draws it: controls 1000 to 1007 and 1021, the tray
// icon with its menu, and the windows it owns (status window, about box) or
// runs (settings dialog, download window).
class IMainWindowView : public IDialogControls {
public:
    // The transfer-state indicator (1007) in a new colour; only the bar repaints.
    virtual void SetIndicatorColour(uint32_t colour) = 0;
    // The window becomes visible only while the rules' ShowAllowed() says so,
    // whoever asks (this call, the toolkit, the user).
    virtual void ShowWindow(WindowShow how) = 0;
    // The notification-area icon with the tray menu ("Talmira" as its tip);
    // false when there is no notification area (yet). Adding it again is harmless.
    virtual bool AddTrayIcon() = 0;
    virtual void RemoveTrayIcon() = 0;
    // A repeating timer that calls the rules' OnTimer(id) until it is killed.
    virtual void SetTimer(int id, int ms) = 0;
    virtual void KillTimer(int id) = 0;
    // Queues a close request, which reaches the rules' OnClose.
    virtual void PostClose() = 0;
    // Queues the quit: the modal run ends, and so does any loop running in it.
    virtual void PostQuit() = 0;
    // Runs fn on the user-interface thread, later, in posting order; dropped
    // when the window is gone. Any thread.
    virtual void PostToUi(std::function<void()> fn) = 0;
    // The program's life: runs the user-interface thread's loop until a quit.
    virtual void RunModal() = 0;
    // Makes the status window or the about box (hidden), owned by this window
    // and destroyed with it; each is made once.
    virtual IStatusView& CreateStatusWindow(CProgressDlg& rules) = 0;
    virtual IAboutView& CreateAboutBox(CAboutDialog& rules) = 0;
    // Makes a settings dialog or the download window for one modal run.
    virtual std::unique_ptr<ISettingView> CreateSettingDialog(CSettingDlg& rules) = 0;
    virtual std::unique_ptr<IDownloadView> CreateDownloadWindow(CUpdateDlg& rules) = 0;
};

// The relay as connection control drives it; tests put a fake here.
class IRelayLinks {
public:
    virtual ~IRelayLinks() = default;
    // Opens the terminal's port (OpenSerialPort); false when it cannot.
    virtual bool OpenSerialPort(const std::string& port, const std::string& speed) = 0;
    // The same open kept off the user-interface thread: done(result) is handed
    // to that thread through toUi once the driver has answered. A stop before
    // then calls the open off, and done never runs. By default the open runs
    // here and done at once.
    virtual void OpenSerialPortLater(const std::string& port, const std::string& speed,
                                     std::function<void(std::function<void()>)> toUi,
                                     std::function<void(bool)> done) {
        (void)toUi;
        done(OpenSerialPort(port, speed));
    }
    // A resume or a device change: the running line counts as lost, so the
    // terminal worker closes it and opens it again.
    virtual void LineLost() {}
    // Starts the terminal worker, then the VAN worker.
    virtual void StartWorkers(IDisplayTarget* owner) = 0;
    // Stops both workers without waiting on a blocked read, closes the port,
    // drops the VAN link (no ESC: the port is gone), clears the progress line
    // and refreshes the link line.
    virtual void StopRelayLinks() = 0;
    // The relay's part of the window's destruction: no display text, no ESC.
    virtual void ShutdownRelay() = 0;
};

// What start-up takes from outside the program; tests replace these. Every
// empty member means the real thing.
struct StartOptions {
    std::string commandLine;  // the command line after the program name
    std::string exePath;      // "": the running executable
    int copyWaitMs = 500;     // wait before counting the running copies
    std::function<int(const std::string& exeName)> countCopies;
    // One try at the per-user lock of the one running copy (the real lock
    // when empty); tried again through the copy wait while another holds it.
    std::function<platform::InstanceClaim()> claimInstance;
    std::function<int()> deleteAutoRun;  // for "/uninstall"
    std::function<bool()> networkUp;
    // How long the start waits for a network that comes up late (checking once
    // a second), and the monotonic clock and the sleep it waits with.
    int networkWaitMs = 60000;
    std::function<int64_t()> nowMs;
    std::function<void(int ms)> sleepMs;
    std::function<void(IUpdateHost&)> installSelf;
    std::function<int(IUpdateHost&)> checkUpdate;
    // Once the start serves the terminal: the clean-start mark the update
    // waits for, and the restart after a crash (default: ConfirmCleanStart
    // with the path values, platform::RegisterCrashRestart).
    std::function<void()> confirmStart;
    PortSource portSource = nullptr;  // the serial ports the system reports
    SettingDlgServices settings;      // its port source defaults to portSource
    DownloadFn download;              // the download window's worker
    IRelayLinks* relay = nullptr;     // the serial port and the relay workers
    // Asks the system not to idle-sleep (true) or no longer (false).
    std::function<void(bool)> keepAwake;
};

// How the tray icon was clicked.
enum class TrayClick { Single, Double };

// The main window's rules: port and speed selectors, the relay's three display
// lines, Connect / Disconnect / Settings, the tray commands, the show
// permission and the exit confirmation. Its modal run is the program's life;
// the relay workers, the tray icon and the status window exist only within it.
// User-interface thread, except the display writes.
class CBriskenDlg : public IDisplayTarget, public IMainWindowControl, public IUpdateHost {
public:
    // Links itself into the relay state, derives the path values, turns away a
    // second copy (or loads the settings) and honours "/uninstall".
    explicit CBriskenDlg(msgbox::IMessageBoxes& boxes, StartOptions options = {});
    ~CBriskenDlg() override;

    // The window's life: initialisation, the show, the modal run (ended at once
    // by a quit queued earlier), the destroy handling. Returns 0.
    int DoModal(IMainWindowView& view);
    // The window's initialisation: network check (waiting up to networkWaitMs
    // for a late network, before anything is shown), install step, version
    // check, lists, tray icon, status window, selectors, automatic connect.
    // Notices raised on the way never wait for their OK. False when the start
    // failed (the window then closes without asking).
    bool OnInitDialog(IMainWindowView& view);
    // The window is going away: the destroy handling runs (once) and no window
    // is drawn any more.
    void OnDestroy();

    // What the window forwards.
    void OnCommand(int id);  // buttons 1002 to 1004 and the tray menu's commands
    void OnClose();          // the close box, or a posted close request
    void OnMinimised();      // the window has just been minimised
    void OnTrayClick(TrayClick click);
    void OnTimer(int id);
    // The system resumed from sleep: a running line is opened again.
    void OnResume();
    // Devices came or went: the port list is filled again, keeping its
    // selection; when a port came or went (portChanged, or a list that
    // differs from the last one) a running line is opened again.
    void OnDeviceChange(bool portChanged);
    // The show permission: while false nothing may make the window visible.
    bool ShowAllowed() const { return m_showAllowed; }

    // Connection control. OnConnect is the user's Connect: a port that does not
    // open is reported in a message box. The start's automatic connect asks
    // nobody: the relay runs and keeps trying the port until it opens.
    void OnConnect();
    void OnDisconnect();
    void StopRelay();
    void ShutdownRelay();
    int GetSelectedPortNumber() const;
    // The selected port as listed ("COM7", "/dev/ttyUSB0"); "" for "선택안함".
    std::string GetSelectedPortName() const;

    void OnSettingsButton();
    void SyncSelectors();

    // Status window, about box and tray.
    void ShowStatusWindow(bool show);
    void ShowAboutBox();
    void AddTrayIcon();
    void RestoreMainWindow();
    void HideMainWindow();
    void ExitFromMenu();

    // Ends the window at once: stops the relay, drops the download window and
    // the tray icon, and ends the run. Runs once.
    void DestroyWindow();

    // IDisplayTarget: any thread; each write is handed to the window's thread.
    void SetLinkText(const std::string& text) override;
    void SetProgressText(const std::string& text) override;
    void SetTransferState(const std::string& text, uint32_t colour) override;
    void PortFollowed(const std::string& port) override;

    // IMainWindowControl / IUpdateHost.
    void ClearConfirmExit() override { m_confirmExit = false; }
    void PostQuit() override;
    void SetShowAllowed(bool allowed) override { m_showAllowed = allowed; }
    // During the start a notice that does not wait; otherwise modal.
    void ShowAppMessage(const std::string& text) override;
    int RunDownloadWindow(const std::string& url, const std::string& path,
                          int startResult) override;

    // The state the rules keep, for the faces and tests.
    bool ConfirmExit() const { return m_confirmExit; }
    bool QuitQueued() const { return m_quitQueued; }
    bool Destroyed() const { return m_destroyed; }
    // Connected while Connect is disabled (the relay runs).
    bool Connected() const { return m_connected; }
    const std::string& LinkText() const { return m_linkText; }
    CProgressDlg* StatusWindow() const { return m_statusWindow.get(); }
    CAboutDialog* AboutBox() const { return m_aboutBox.get(); }

private:
    void Connect(bool clicked);
    void OnPortOpened(bool clicked, bool opened);
    void KeepAwake(bool on);
    void FillPortList();
    void PrepareStart();
    bool Initialise(IMainWindowView& view);
    void CheckCommandLine();
    void SetButtonsRunning(bool running);
    void ShowTransferState(const std::string& text, uint32_t colour);
    void Post(std::function<void()> fn);
    // A box whose answer nothing depends on: during the start it stands without
    // being waited for, since nobody may be there; after it, a person's click
    // raised it and it is modal.
    void Tell(const msgbox::Request& request);

    msgbox::IMessageBoxes& m_boxes;
    StartOptions m_options;
    std::unique_ptr<IRelayLinks> m_ownRelay;  // when the options name none
    IRelayLinks* m_relay;
    // Set by the initialisation (before any worker starts) and cleared when the
    // window goes (after the destroy handling has stopped the workers), so the
    // workers' display writes read it without a lock.
    IMainWindowView* m_view = nullptr;
    CDisplayQueue m_display;
    bool m_confirmExit = false;
    bool m_showAllowed = false;
    bool m_quitQueued = false;
    bool m_closeQueued = false;
    bool m_running = false;
    bool m_starting = false;  // within OnInitDialog
    bool m_destroyed = false;
    bool m_connected = false;
    bool m_opening = false;  // Connect's open is with the driver
    bool m_awake = false;    // the keep-awake request is held
    CSettingDlg* m_settingDlg = nullptr;  // the settings dialog while it runs
    std::vector<std::string> m_lastPorts;
    bool m_trayRetrying = false;
    std::string m_linkText;

    platform::InstanceLock m_instanceLock;  // held for the program's life
    std::unique_ptr<CProgressDlg> m_statusWindow;
    std::unique_ptr<CAboutDialog> m_aboutBox;
};
