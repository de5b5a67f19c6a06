#pragma once
#include <QDialog>
#include <map>
#include <memory>

#include "app/brisken_dlg.h"
#include "ui/qt/qt_controls.h"

namespace platform {
class ResumeWatch;
}
class QMenu;
class QSystemTrayIcon;
class QTimer;
class QtAboutBox;
class QtStatusWindow;
class TransferBar;

// The main window in Qt: builds the controls, the tray icon and its menu, and
// forwards clicks, the close box, the minimise, tray activations and timers to
// the rules. Shown only while the rules' show permission allows it.
class QtMainWindow : public QDialog, public QtControls<IMainWindowView> {
public:
    explicit QtMainWindow(CBriskenDlg& rules);
    ~QtMainWindow() override;

    // IMainWindowView.
    void SetIndicatorColour(uint32_t colour) override;
    void ShowWindow(WindowShow how) override;
    bool AddTrayIcon() override;
    void RemoveTrayIcon() override;
    void SetTimer(int id, int ms) override;
    void KillTimer(int id) override;
    void PostClose() override;
    void PostQuit() override;
    void PostToUi(std::function<void()> fn) override;
    void RunModal() override;
    IStatusView& CreateStatusWindow(CProgressDlg& rules) override;
    IAboutView& CreateAboutBox(CAboutDialog& rules) override;
    std::unique_ptr<ISettingView> CreateSettingDialog(CSettingDlg& rules) override;
    std::unique_ptr<IDownloadView> CreateDownloadWindow(CUpdateDlg& rules) override;

    void setVisible(bool visible) override;

    // For tests.
    uint32_t BarColour() const;
    QMenu* TrayMenu() const { return m_trayMenu.get(); }
    QSystemTrayIcon* TrayIcon() const { return m_trayIcon; }
    QtStatusWindow* StatusWindow() const { return m_statusWindow.get(); }
    QtAboutBox* AboutBox() const { return m_aboutBox; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildControls();

    CBriskenDlg& m_rules;
    TransferBar* m_transferBar = nullptr;
    std::unique_ptr<QMenu> m_trayMenu;
    QSystemTrayIcon* m_trayIcon = nullptr;  // child of this window
    std::map<int, QTimer*> m_timers;        // children of this window
    std::unique_ptr<QtStatusWindow> m_statusWindow;
    QtAboutBox* m_aboutBox = nullptr;  // child of this window
    // logind's resume notices, handed to the rules on this window's thread.
    std::unique_ptr<platform::ResumeWatch> m_resumeWatch;
};
