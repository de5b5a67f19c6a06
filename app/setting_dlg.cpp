#include "app/setting_dlg.h"

#include <cctype>
#include <string>

#include "app/main_window_control.h"
#include "brisken_version.h"
#include "config/autostart.h"
#include "config/settings.h"
#include "log/traffic_log.h"
#include "platform/system.h"
#include "update/update_check.h"

namespace {

// The speed list's items with the label the INI file keeps for each.
struct SpeedPair {
    const char* label;
    const char* rate;
};
constexpr SpeedPair kSpeeds[] = {
    {"9.6K", "9600"}, {"38.4K", "38400"}, {"56.0K", "57600"}, {"115.2K", "115200"}};


}  // namespace

// Reads a port item's number the way the item "COMn" has always been read:
// the first three characters are dropped whatever they are, at most 7 bytes of
// the rest count, blanks and one sign may lead, digits run to the first other
// character, and no digits give 0.
int PortNumberOfItem(const std::string& item) {
    const std::string kept = item.size() > 3 ? item.substr(3, 7) : std::string();
    size_t i = 0;
    while (i < kept.size() && std::isspace(static_cast<unsigned char>(kept[i]))) ++i;
    bool negative = false;
    if (i < kept.size() && (kept[i] == '+' || kept[i] == '-')) negative = kept[i++] == '-';
    int value = 0;  // at most 7 digits: no overflow
    for (; i < kept.size() && std::isdigit(static_cast<unsigned char>(kept[i])); ++i)
        value = value * 10 + (kept[i] - '0');
    // The INI file holds only unsigned digits; a negative port is no port.
    return negative ? 0 : value;
}

CSettingDlg::CSettingDlg(IMainWindowControl* mainControl, msgbox::IMessageBoxes& boxes,
                         Services services)
    : m_mainControl(mainControl), m_boxes(boxes), m_services(std::move(services)) {
    if (m_services.portSource == nullptr) m_services.portSource = &SystemSerialPorts;
    if (!m_services.isAutoRunRegistered) m_services.isAutoRunRegistered = &IsAutoRunRegistered;
    if (!m_services.setAutoRun) m_services.setAutoRun = &SetAutoRun;
    if (!m_services.deleteAutoRun) m_services.deleteAutoRun = &DeleteAutoRunValue;
    if (!m_services.uninstall) m_services.uninstall = [] { UninstallSelf(); };
}

void CSettingDlg::DoModal(ISettingView& view) {
    OnInitDialog(view);
    view.RunModal();
    // Ended by a quit before its close ran: the uninstall's quit still goes out
    // (the main window outlives this dialog, so it is never dropped).
    if (m_quitOnClose && !m_ended && m_mainControl != nullptr) m_mainControl->PostQuit();
    m_view = nullptr;
}

void CSettingDlg::OnInitDialog(ISettingView& view) {
    m_view = &view;
    DialogPortList ports(view, IDC_PORTLIST);
    EnumerateSerialPorts(ports, m_services.portSource);
    if (ports.Count() > 0) ports.Select(0);

    for (const SpeedPair& speed : kSpeeds) view.AddItem(IDC_SPEEDLIST, speed.rate);

    // Showing the folder makes sure it is there.
    const std::string folder = TrafficLogFolder();
    if (!folder.empty() && (platform::PathExists(folder) || platform::MakeDirectory(folder)))
        view.SetText(IDC_LOGFOLDER, folder);

    LoadDialogControls();
    m_changed = false;
    view.SetText(IDC_VERSION, BRISKEN_VERSION);
}

void CSettingDlg::RefillPortList() {
    if (m_view == nullptr || m_ended) return;
    const int index = m_view->Selection(IDC_PORTLIST);
    const std::string selected = index >= 0 ? m_view->ItemText(IDC_PORTLIST, index) : "";
    m_view->ResetItems(IDC_PORTLIST);
    DialogPortList ports(*m_view, IDC_PORTLIST);
    EnumerateSerialPorts(ports, m_services.portSource);
    if (selected.empty()) {
        if (ports.Count() > 0) ports.Select(0);
        return;
    }
    // The selection stays, offered as it stands when its port has gone.
    for (int i = 0; i < ports.Count(); ++i) {
        if (ports.Text(i) == selected) {
            ports.Select(i);
            return;
        }
    }
    ports.Append(selected);
    ports.Select(ports.Count() - 1);
}

void CSettingDlg::LoadDialogControls() {
    if (m_services.isAutoRunRegistered()) m_view->SetCheck(IDC_AUTORUN, true);
    if (g_logEnabled.load()) m_view->SetCheck(IDC_LOG, true);
    m_view->Enable(IDC_PORTLIST, g_autoConnect);
    m_view->Enable(IDC_SPEEDLIST, g_autoConnect);
    if (g_autoConnect) m_view->SetCheck(IDC_AUTOCONNECT, true);
    if (g_showStatusBox) m_view->SetCheck(IDC_STATUSBOX, true);

    DialogPortList ports(*m_view, IDC_PORTLIST);
    SelectPortItem(ports);
    m_view->Select(IDC_SPEEDLIST, SpeedIndex(g_comSpeed));
}

void CSettingDlg::OnCommand(int id) {
    if (m_view == nullptr) return;
    switch (id) {
        case IDC_CLOSE:
            OnCloseClicked();
            break;
        case IDC_AUTORUN:
            OnAutoRunClicked();
            break;
        case IDC_AUTOCONNECT:
            OnAutoConnectClicked();
            break;
        case IDC_STATUSBOX:
            OnStatusBoxClicked();
            break;
        case IDC_LOG:
            OnLogClicked();
            break;
        case IDC_UNINSTALL:
            OnUninstallClicked();
            break;
        default:
            break;
    }
}

void CSettingDlg::OnSelChange(int id) {
    if (m_view == nullptr) return;
    if (id == IDC_PORTLIST) OnPortChanged();
    if (id == IDC_SPEEDLIST) OnSpeedChanged();
}

void CSettingDlg::OnCloseClicked() { m_view->PostClose(); }

void CSettingDlg::OnAutoRunClicked() {
    if (m_view->IsChecked(IDC_AUTORUN))
        m_services.setAutoRun(AutoRunCommand());
    else
        m_services.deleteAutoRun();
}

void CSettingDlg::OnAutoConnectClicked() {
    if (m_view->IsChecked(IDC_AUTOCONNECT)) {
        m_view->Enable(IDC_PORTLIST, true);
        m_view->Enable(IDC_SPEEDLIST, true);
        SaveSetting("COMMON", "auto_run", "Y");
        // The port and speed on show become the ones used at start.
        OnPortChanged();
        OnSpeedChanged();
        g_autoConnect = true;
    } else {
        m_view->Enable(IDC_PORTLIST, false);
        m_view->Enable(IDC_SPEEDLIST, false);
        SaveSetting("COMMON", "auto_run", "N");
        g_autoConnect = false;
    }
}

void CSettingDlg::OnStatusBoxClicked() {
    const bool show = m_view->IsChecked(IDC_STATUSBOX);
    SaveSetting("STATUSBOX", "show", show ? "show" : "hidden");
    g_showStatusBox = show;
}

void CSettingDlg::OnLogClicked() {
    const bool on = m_view->IsChecked(IDC_LOG);
    SaveSetting("COMMON", "log", on ? "Y" : "N");
    g_logEnabled.store(on);
}

namespace {

struct PortItem {
    int number = 0;    // "COM" and a number
    std::string path;  // or a device path, stored as it stands
};

PortItem ParsePortItem(const std::string& item) {
    PortItem port;
    if (!item.empty() && item.front() == '/')
        port.path = item;
    else
        port.number = PortNumberOfItem(item);
    return port;
}

}  // namespace

void CSettingDlg::OnPortChanged() {
    const int index = m_view->Selection(IDC_PORTLIST);
    if (index < 0) return;
    const std::string item = m_view->ItemText(IDC_PORTLIST, index);
    const PortItem port = ParsePortItem(item);
    if (port.number == g_comPort && port.path == g_comPortPath) return;

    StorePortItem(item);
    m_changed = true;
}

void StorePortItem(const std::string& item) {
    const PortItem port = ParsePortItem(item);
    SaveSetting("COMPORT", "port", port.path.empty() ? std::to_string(port.number) : port.path);
    g_comPort = port.number;
    g_comPortPath = port.path;
}

void CSettingDlg::OnSpeedChanged() {
    const int index = m_view->Selection(IDC_SPEEDLIST);
    const std::string item = index < 0 ? std::string() : m_view->ItemText(IDC_SPEEDLIST, index);
    SpeedPair pair = kSpeeds[0];
    for (const SpeedPair& speed : kSpeeds)
        if (item == speed.rate) pair = speed;
    if (g_comSpeed == pair.rate) return;

    SaveSetting("COMPORT", "speed", pair.label);
    g_comSpeed = pair.rate;
    m_changed = true;
}

void CSettingDlg::OnClose() {
    // A close that reaches an already ended dialog asks nothing.
    if (m_view == nullptr || m_ended) return;
    m_ended = true;
    if (m_changed) {
        const msgbox::Answer answer =
            m_boxes.Show(msgbox::WindowQuestion("변경된 단말기 접속 정보를 바로 적용하시겠습니까?\n"
                                                "(미적용시 다음 실행시 부터 적용됩니다.)",
                                                msgbox::Buttons::YesNo));
        m_applyNow = answer == msgbox::Answer::Yes ? 1 : 0;
    }
    m_view->EndDialog();
    if (m_quitOnClose && m_mainControl != nullptr) m_mainControl->PostQuit();
}

void CSettingDlg::OnUninstallClicked() {
    if (m_boxes.Show(msgbox::WindowQuestion("정말로 삭제하시겠습니까?", msgbox::Buttons::YesNo)) !=
        msgbox::Answer::Yes)
        return;
    m_services.uninstall();
    // The quit is requested only once the dialog's own close has run (and asked
    // its apply question): a quit that ends every running loop at once would
    // otherwise end this dialog's loop with the close still queued.
    m_quitOnClose = true;
    m_view->PostClose();
    if (m_mainControl != nullptr) m_mainControl->ClearConfirmExit();
    m_services.deleteAutoRun();
}
