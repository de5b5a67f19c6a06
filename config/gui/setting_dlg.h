#pragma once
#include <QDialog>
#include <functional>

#include "config/port_discovery.h"

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QLineEdit;
class QPushButton;
class IMainWindowControl;

// What the settings dialog reaches outside itself; an empty member takes the
// real one (the system's serial ports, UninstallSelf).
struct SettingDlgServices {
    PortSource portSource = nullptr;
    std::function<void()> uninstall;
};

// The settings dialog: every control stores its change at once (INI key and
// in-memory value together); closing only ends the dialog and, when the port
// or speed changed, asks whether to apply them now. Run modally by the main
// window, which then reads m_applyNow. User-interface thread only.
class CSettingDlg : public QDialog {
    Q_OBJECT

public:
    // Control IDs; each is the objectName of its control.
    enum ControlId {
        IDC_CLOSE = 1009,
        IDC_AUTORUN = 1010,
        IDC_AUTOCONNECT = 1011,
        IDC_PORTLIST = 1012,
        IDC_SPEEDLIST = 1013,
        IDC_LOG = 1014,
        IDC_LOGFOLDER = 1015,
        IDC_STATUSBOX = 1016,
        IDC_UNINSTALL = 1023,
        IDC_VERSION = 1024,
    };

    using Services = SettingDlgServices;

    CSettingDlg(QWidget* parent, IMainWindowControl& mainControl, Services services = {});
    CSettingDlg(QWidget* parent, IMainWindowControl* mainControl, Services services = {});

    // 1 when the user answered Yes to the apply question, else 0.
    int m_applyNow = 0;

    // Sets the controls from the settings; writes nothing.
    void LoadDialogControls();

    void OnCloseClicked();
    void OnAutoRunClicked();
    void OnAutoConnectClicked();
    void OnStatusBoxClicked();
    void OnLogClicked();
    void OnPortChanged();
    void OnSpeedChanged();
    void OnUninstallClicked();
    void OnClose();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void InitDialog();
    void PostClose();

    IMainWindowControl* m_mainControl;
    Services m_services;
    bool m_changed = false;  // the port or the speed was stored while open

    QCheckBox* m_autoRunBox = nullptr;
    QCheckBox* m_autoConnectBox = nullptr;
    QComboBox* m_portList = nullptr;
    QComboBox* m_speedList = nullptr;
    QCheckBox* m_statusBox = nullptr;
    QCheckBox* m_logBox = nullptr;
    QPushButton* m_logFolderButton = nullptr;
    QPushButton* m_uninstallButton = nullptr;
    QLineEdit* m_versionField = nullptr;
    QPushButton* m_closeButton = nullptr;
};
