#pragma once
#include <functional>
#include <string>

#include "app/dialog_controls.h"
#include "app/message_box.h"
#include "config/port_discovery.h"

class IMainWindowControl;

// A port item's number as "COMn" has always been read ("COM7" gives 7).
int PortNumberOfItem(const std::string& item);
// Stores a port item as the port setting (INI key and in-memory value).
void StorePortItem(const std::string& item);

// The settings dialog as a face draws it: controls 1009 to 1024.
class ISettingView : public IDialogControls {
public:
    // Queues the window's close request, which reaches OnClose.
    virtual void PostClose() = 0;
    // Ends the modal run.
    virtual void EndDialog() = 0;
    // Runs the window modally until EndDialog, or until a quit (left queued for
    // the loop outside).
    virtual void RunModal() = 0;
};

// What the settings dialog reaches outside itself; an empty member takes the
// real one (the system's serial ports, the autostart entry, UninstallSelf).
struct SettingDlgServices {
    PortSource portSource = nullptr;
    std::function<bool()> isAutoRunRegistered;
    std::function<int(const std::string& command)> setAutoRun;
    std::function<int()> deleteAutoRun;
    std::function<void()> uninstall;
};

// The settings dialog's rules: every control stores its change at once (INI key
// and in-memory value together); closing only ends the dialog and, when the
// port or speed changed, asks whether to apply them now. Run modally by the
// main window, which then reads m_applyNow. User-interface thread only.
class CSettingDlg {
public:
    // Control IDs.
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

    // mainControl may be null (then the uninstall ends nothing).
    CSettingDlg(IMainWindowControl* mainControl, msgbox::IMessageBoxes& boxes,
                Services services = {});

    // 1 when the user answered Yes to the apply question, else 0.
    int m_applyNow = 0;

    // Initialises the window and runs it until it has ended.
    void DoModal(ISettingView& view);
    // Takes its window and fills it: port and speed lists, log folder (created
    // when missing), the settings' states, the version.
    void OnInitDialog(ISettingView& view);

    // What the window forwards: clicks (buttons, check boxes), list selections
    // made by the user, and the close request (close box, or the one posted).
    void OnCommand(int id);
    void OnSelChange(int id);
    void OnClose();

    // Devices came or went: the port list is filled again, its selection kept.
    void RefillPortList();

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

private:
    IMainWindowControl* m_mainControl;
    msgbox::IMessageBoxes& m_boxes;
    Services m_services;
    ISettingView* m_view = nullptr;
    bool m_changed = false;      // the port or the speed was stored while open
    bool m_ended = false;        // the close has run
    bool m_quitOnClose = false;  // the uninstall ends the program once the close has run
};
