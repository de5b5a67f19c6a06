#pragma once
#include <QDialog>
#include <QRect>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/main_window_control.h"
#include "config/port_discovery.h"
#include "relay/display.h"
#include "relay/relay_session.h"
#include "update/update_check.h"

class CProgressDlg;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class TransferBar;

// What start-up takes from outside the program; tests replace these. Every
// empty member means the real thing.
struct StartOptions {
    std::string commandLine;   // the command line after the program name
    std::string exePath;       // "": the running executable
    int copyWaitMs = 500;      // wait before counting the running copies
    std::function<int(const std::string& exeName)> countCopies;
    std::function<bool()> networkUp;
    std::function<void(IUpdateHost&)> installSelf;
    std::function<int(IUpdateHost&)> checkUpdate;
    // Runs the settings dialog modally and returns its m_applyNow.
    std::function<int(QWidget* parent, IMainWindowControl* main)> runSettingsDialog;
    std::function<void(QWidget* owner)> showAboutBox;
    PortSource portSource = nullptr;      // the serial ports the system reports
    std::function<QRect()> screenRect;    // where the status window is placed
};

// The main window: port and speed selectors, the relay's three display lines,
// Connect / Disconnect / Settings. Its run is the program's life; the relay
// workers, the tray icon and the status window exist only within it.
class CBriskenDlg : public QDialog,
                    public IDisplayTarget,
                    public IMainWindowControl,
                    public IUpdateHost {
    Q_OBJECT

public:
    // Links itself into the relay state, derives the path values, turns away a
    // second copy (or loads the settings) and honours "/uninstall".
    explicit CBriskenDlg(StartOptions options = {});
    ~CBriskenDlg() override;

    // The window's initialisation: network check, install step, version check,
    // lists, tray icon, status window, selectors, automatic connect. False when
    // the start failed (the window then closes without asking).
    bool Initialise();
    // Initialise, show, and run until the window is destroyed or a quit request
    // is taken. Returns 0.
    int Run();

    // Connection control.
    void OnConnect();
    void OnDisconnect();
    void StopRelay();
    void ShutdownRelay();
    int GetSelectedPortNumber() const;
    // The selected port as listed ("COM7", "/dev/ttyUSB0"); "" for "선택안함".
    std::string GetSelectedPortName() const;

    void OnSettingsButton();
    void SyncSelectors();

    // Status window and tray.
    void ShowStatusWindow(bool show);
    void AddTrayIcon();
    void RestoreMainWindow();
    void HideMainWindow();
    void ExitFromMenu();
    void OnAboutCommand();

    // Ends the window at once: stops the relay, drops the download window and
    // the tray icon, and ends the run. Runs once.
    void DestroyWindow();

    // IDisplayTarget: any thread; each write is handed to the window's thread.
    void SetLinkText(const std::string& text) override;
    void SetProgressText(const std::string& text) override;
    void SetTransferState(const std::string& text, uint32_t colour) override;

    // IMainWindowControl / IUpdateHost.
    void ClearConfirmExit() override { m_confirmExit = false; }
    void PostQuit() override;
    void SetShowAllowed(bool allowed) override { m_showAllowed = allowed; }
    void ShowAppMessage(const std::string& text) override;
    int RunDownloadWindow(const std::string& url, const std::string& path,
                          int startResult) override;

    void setVisible(bool visible) override;

    // For tests and the tray.
    bool ShowAllowed() const { return m_showAllowed; }
    bool ConfirmExit() const { return m_confirmExit; }
    bool QuitQueued() const { return m_quitQueued; }
    bool Destroyed() const { return m_destroyed; }
    uint32_t BarColour() const;
    CProgressDlg* StatusWindow() const { return m_statusWindow.get(); }
    QMenu* TrayMenu() const { return m_trayMenu.get(); }
    QSystemTrayIcon* TrayIcon() const { return m_trayIcon; }
    RelayWorkers& Workers() { return m_workers; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void PrepareStart();
    void CheckCommandLine();
    void BuildControls();
    void BuildTrayMenu();
    void SetButtonsRunning(bool running);
    void PostToWindow(std::function<void()> fn);

    StartOptions m_options;
    bool m_confirmExit = false;
    bool m_showAllowed = false;
    bool m_quitQueued = false;
    bool m_closeQueued = false;
    bool m_running = false;
    bool m_destroyed = false;
    bool m_initialised = false;

    QComboBox* m_portList = nullptr;
    QComboBox* m_speedList = nullptr;
    QLabel* m_linkText = nullptr;
    QLabel* m_progressText = nullptr;
    TransferBar* m_transferBar = nullptr;
    QPushButton* m_connectButton = nullptr;
    QPushButton* m_disconnectButton = nullptr;
    QPushButton* m_settingsButton = nullptr;

    RelayWorkers m_workers;
    std::unique_ptr<CProgressDlg> m_statusWindow;
    std::unique_ptr<QMenu> m_trayMenu;
    QSystemTrayIcon* m_trayIcon = nullptr;  // child of this window
    QTimer m_trayRetry;                     // the tray may come up after us
};
