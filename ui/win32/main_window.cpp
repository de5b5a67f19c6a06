#include "ui/win32/main_window.h"

#include <dbt.h>
#include <shellapi.h>

#include "app/control_ids.h"
#include "relay/display.h"
#include "ui/win32/about_box.h"
#include "ui/win32/download_window.h"
#include "ui/win32/setting_dialog.h"
#include "ui/win32/status_window.h"

using namespace win32face;

Win32MainWindow::Win32MainWindow(CBriskenDlg& rules)
    : Controls<IMainWindowView>(static_cast<const Dialog&>(*this)), m_rules(rules) {
    m_barColour = kNormalColour;
    // Explorer announces a restart with this message; the tray icon is then
    // added again.
    m_taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    Create(kIdMainWindow, nullptr);
    m_queue.Open(Handle());
}

Win32MainWindow::~Win32MainWindow() {
    m_queue.Close();
    // The owned windows go with this one; their objects after it.
    Destroy();
    m_statusWindow.reset();
    m_aboutBox.reset();
}

bool Win32MainWindow::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    if (msg == m_taskbarCreated && m_taskbarCreated != 0) {
        // Sent after Explorer restarts, and also when the display's scaling
        // changes while the icon is still there: either way the icon is
        // added as at the start, with its retries.
        if (m_trayWanted) m_rules.AddTrayIcon();
        return true;
    }
    switch (msg) {
        case WM_INITDIALOG:
            SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LargeAppIcon()));
            SendMessageW(Handle(), WM_SETICON, ICON_SMALL,
                         reinterpret_cast<LPARAM>(SmallAppIcon()));
            SendDlgItemMessageW(Handle(), ids::kMainBar, WM_SETFONT,
                                reinterpret_cast<WPARAM>(m_barFont.Get()), TRUE);
            result = TRUE;
            return true;
        case WM_COMMAND:
            // Buttons and the tray menu's commands; IDOK and IDCANCEL (the
            // keys) reach no rule.
            if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) != IDOK &&
                LOWORD(wParam) != IDCANCEL)
                m_rules.OnCommand(LOWORD(wParam));
            return true;
        case WM_CLOSE:
            m_rules.OnClose();
            return true;
        case WM_SIZE:
            if (wParam == SIZE_MINIMIZED) m_rules.OnMinimised();
            return true;
        case WM_WINDOWPOSCHANGING: {
            // Without the show permission nothing makes the window visible.
            auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
            if (!m_rules.ShowAllowed()) pos->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
            return true;
        }
        case WM_TIMER:
            m_rules.OnTimer(static_cast<int>(wParam));
            return true;
        case WM_POWERBROADCAST:
            // Reaches every top-level window without registering.
            if (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND)
                m_rules.OnResume();
            SetResult(TRUE);
            result = TRUE;
            return true;
        case WM_DEVICECHANGE:
            // Ports' arrivals and removals, and any change of the device tree
            // (the rules look at the port list then), reach a top-level
            // window without registering.
            if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) {
                const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
                m_rules.OnDeviceChange(header != nullptr &&
                                       header->dbch_devicetype == DBT_DEVTYP_PORT);
            } else if (wParam == DBT_DEVNODES_CHANGED) {
                m_rules.OnDeviceChange(false);
            }
            SetResult(TRUE);
            result = TRUE;
            return true;
        case kTrayNotify:
            switch (LOWORD(lParam)) {
                case WM_LBUTTONDBLCLK:
                    m_rules.OnTrayClick(TrayClick::Double);
                    break;
                case WM_RBUTTONDOWN:
                    ShowTrayMenu();
                    break;
                default:
                    break;
            }
            SetResult(1);
            result = TRUE;
            return true;
        case WM_QUERYDRAGICON:
            result = reinterpret_cast<INT_PTR>(LargeAppIcon());
            return true;
        case WM_CTLCOLORSTATIC:
            result = reinterpret_cast<INT_PTR>(IndicatorColours(
                reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam), ids::kMainBar,
                ids::kMainTransferText, AsColorRef(m_barColour), m_barBrush));
            return true;
        case WM_CTLCOLORDLG:
            result =
                reinterpret_cast<INT_PTR>(WhiteStaticColours(msg, reinterpret_cast<HDC>(wParam)));
            return true;
        case kRunQueued:
            m_queue.RunQueued();
            return true;
        case WM_DESTROY:
            m_queue.Close();
            RemoveTrayIcon();
            m_rules.OnDestroy();
            return true;
        default:
            return false;
    }
}

void Win32MainWindow::TextChanged(int id) {
    if (id == ids::kMainTransferText) RepaintBar();
}

void Win32MainWindow::RepaintBar() {
    // Only the bar and the text on it repaint, the bar first.
    for (int id : {ids::kMainBar, ids::kMainTransferText}) {
        if (HWND item = Item(id))
            RedrawWindow(item, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }
}

void Win32MainWindow::SetIndicatorColour(uint32_t colour) {
    m_barColour = colour;
    RepaintBar();
}

void Win32MainWindow::ShowWindow(WindowShow how) {
    HWND hwnd = Handle();
    if (hwnd == nullptr) return;
    switch (how) {
        case WindowShow::Hide:
            ::ShowWindow(hwnd, SW_HIDE);
            break;
        case WindowShow::Show:
            ::ShowWindow(hwnd, SW_SHOW);
            break;
        case WindowShow::Minimise:
            ::ShowWindow(hwnd, SW_SHOWMINIMIZED);
            break;
        case WindowShow::Restore:
            ::ShowWindow(hwnd, SW_RESTORE);
            SetForegroundWindow(hwnd);
            break;
    }
}

NOTIFYICONDATAW Win32MainWindow::TrayData() const {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = Handle();
    data.uID = kTrayIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayNotify;
    data.hIcon = SmallAppIcon();
    lstrcpynW(data.szTip, L"Talmira", ARRAYSIZE(data.szTip));
    return data;
}

bool Win32MainWindow::AddTrayIcon() {
    if (Handle() == nullptr) return false;
    m_trayWanted = true;
    NOTIFYICONDATAW data = TrayData();
    // An icon that is there already refuses the add; the modify then finds it
    // and keeps it.
    m_trayAdded =
        Shell_NotifyIconW(NIM_ADD, &data) != FALSE || Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
    return m_trayAdded;
}

void Win32MainWindow::RemoveTrayIcon() {
    // Deleted whatever the last add reported: no icon outlives the program.
    m_trayWanted = false;
    m_trayAdded = false;
    if (Handle() == nullptr) return;
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = Handle();
    data.uID = kTrayIconId;
    Shell_NotifyIconW(NIM_DELETE, &data);
}

void Win32MainWindow::ShowTrayMenu() {
    POINT at{};
    GetCursorPos(&at);
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIdTrayMenu));
    if (menu == nullptr) return;
    if (HMENU popup = GetSubMenu(menu, 0)) {
        // The menu closes when the user clicks elsewhere only while its owner
        // is the foreground window.
        SetForegroundWindow(Handle());
        TrackPopupMenu(popup, TPM_RIGHTBUTTON, at.x, at.y, 0, Handle(), nullptr);
        PostMessageW(Handle(), WM_NULL, 0, 0);
    }
    DestroyMenu(menu);
}

void Win32MainWindow::SetTimer(int id, int ms) {
    if (Handle() != nullptr)
        ::SetTimer(Handle(), static_cast<UINT_PTR>(id), static_cast<UINT>(ms), nullptr);
}

void Win32MainWindow::KillTimer(int id) {
    if (Handle() != nullptr) ::KillTimer(Handle(), static_cast<UINT_PTR>(id));
}

void Win32MainWindow::PostClose() {
    if (Handle() != nullptr) PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void Win32MainWindow::PostQuit() { PostQuitMessage(0); }

void Win32MainWindow::PostToUi(std::function<void()> fn) { m_queue.Post(std::move(fn)); }

void Win32MainWindow::RunModal() { RunMessageLoop(nullptr, false); }

IStatusView& Win32MainWindow::CreateStatusWindow(CProgressDlg& rules) {
    m_statusWindow = std::make_unique<Win32StatusWindow>(rules, Handle());
    return *m_statusWindow;
}

IAboutView& Win32MainWindow::CreateAboutBox(CAboutDialog& rules) {
    m_aboutBox = std::make_unique<Win32AboutBox>(rules, Handle());
    return *m_aboutBox;
}

std::unique_ptr<ISettingView> Win32MainWindow::CreateSettingDialog(CSettingDlg& rules) {
    return std::make_unique<Win32SettingDialog>(rules, Handle());
}

std::unique_ptr<IDownloadView> Win32MainWindow::CreateDownloadWindow(CUpdateDlg& rules) {
    return std::make_unique<Win32DownloadWindow>(rules);
}
