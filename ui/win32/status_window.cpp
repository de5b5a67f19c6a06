#include "ui/win32/status_window.h"

#include <commctrl.h>

#include "app/control_ids.h"
#include "relay/display.h"

using namespace win32face;

Win32StatusWindow::Win32StatusWindow(CProgressDlg& rules, HWND owner)
    : Controls<IStatusView>(static_cast<const Dialog&>(*this)), m_rules(rules) {
    m_barColour = kNormalColour;
    Create(kIdStatusWindow, owner);
    m_queue.Open(Handle());
}

Win32StatusWindow::~Win32StatusWindow() {
    m_queue.Close();
    Destroy();
}

bool Win32StatusWindow::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (msg) {
        case WM_INITDIALOG:
            SendMessageW(Handle(), WM_SETICON, ICON_SMALL,
                         reinterpret_cast<LPARAM>(SmallAppIcon()));
            SendDlgItemMessageW(Handle(), ids::kStatusBar, WM_SETFONT,
                                reinterpret_cast<WPARAM>(m_barFont.Get()), TRUE);
            result = TRUE;
            return true;
        case WM_CTLCOLORSTATIC:
            result = reinterpret_cast<INT_PTR>(IndicatorColours(
                reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam), ids::kStatusBar,
                ids::kStatusTransferText, AsColorRef(m_barColour), m_barBrush));
            return true;
        case WM_CTLCOLORDLG:
            result =
                reinterpret_cast<INT_PTR>(WhiteStaticColours(msg, reinterpret_cast<HDC>(wParam)));
            return true;
        case WM_HSCROLL:
            if (reinterpret_cast<HWND>(lParam) == Item(ids::kAlphaSlider)) m_rules.OnHScroll();
            return true;
        case WM_CLOSE:
            m_rules.OnClose();
            return true;
        case WM_SETTINGCHANGE:
            // The taskbar moved, grew with the scaling, or hides itself now.
            if (wParam == SPI_SETWORKAREA) m_rules.PlaceOnScreen();
            return false;
        case WM_DISPLAYCHANGE:
            m_rules.PlaceOnScreen();
            return false;
        case WM_COMMAND:
            return true;  // IDOK / IDCANCEL: the window is not dismissed by keys
        case kRunQueued:
            m_queue.RunQueued();
            return true;
        case WM_DESTROY:
            m_queue.Close();
            m_rules.Detach();
            return true;
        default:
            return false;
    }
}

void Win32StatusWindow::TextChanged(int id) {
    if (id == ids::kStatusTransferText) RepaintBar();
}

void Win32StatusWindow::RepaintBar() {
    // The text lies on the bar with no background of its own: the bar is
    // drawn first, then the text on it.
    for (int id : {ids::kStatusBar, ids::kStatusTransferText}) {
        if (HWND item = Item(id))
            RedrawWindow(item, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }
}

void Win32StatusWindow::SetIndicatorColour(uint32_t colour) {
    m_barColour = colour;
    RepaintBar();
}

void Win32StatusWindow::SetSliderRange(int id, int min, int max, int lineStep, int pageStep) {
    HWND slider = Item(id);
    if (slider == nullptr) return;
    SendMessageW(slider, TBM_SETRANGEMIN, FALSE, min);
    SendMessageW(slider, TBM_SETRANGEMAX, FALSE, max);
    SendMessageW(slider, TBM_SETLINESIZE, 0, lineStep);
    SendMessageW(slider, TBM_SETPAGESIZE, 0, pageStep);
}

void Win32StatusWindow::SetSliderPos(int id, int pos) {
    // TBM_SETPOS sends no WM_HSCROLL: the rules hear of moves by the user only.
    if (HWND slider = Item(id)) SendMessageW(slider, TBM_SETPOS, TRUE, pos);
}

int Win32StatusWindow::SliderPos(int id) const {
    HWND slider = Item(id);
    return slider == nullptr ? 0 : static_cast<int>(SendMessageW(slider, TBM_GETPOS, 0, 0));
}

void Win32StatusWindow::SetOpacity(int alpha) {
    HWND hwnd = Handle();
    if (hwnd == nullptr) return;
    const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    if ((style & WS_EX_LAYERED) == 0) SetWindowLongPtrW(hwnd, GWL_EXSTYLE, style | WS_EX_LAYERED);
    SetLayeredWindowAttributes(hwnd, 0,
                               static_cast<BYTE>(alpha < 0     ? 0
                                                 : alpha > 255 ? 255
                                                               : alpha),
                               LWA_ALPHA);
}

int Win32StatusWindow::LayeredAlpha() const {
    HWND hwnd = Handle();
    if (hwnd == nullptr || (GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_LAYERED) == 0) return -1;
    BYTE alpha = 0;
    DWORD flags = 0;
    if (!GetLayeredWindowAttributes(hwnd, nullptr, &alpha, &flags) || (flags & LWA_ALPHA) == 0)
        return -1;
    return alpha;
}

void Win32StatusWindow::ShowWindow(WindowShow how) {
    if (Handle() == nullptr) return;
    ::ShowWindow(Handle(), how == WindowShow::Hide ? SW_HIDE : SW_SHOW);
}

Rect Win32StatusWindow::WorkArea() const {
    // The primary display less the taskbar and the desktop toolbars, in the
    // pixels of this (DPI-aware) program.
    RECT r{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0)) GetWindowRect(GetDesktopWindow(), &r);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

Rect Win32StatusWindow::WindowRect() const {
    RECT r{};
    if (Handle() != nullptr) GetWindowRect(Handle(), &r);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

void Win32StatusWindow::MoveWindow(int x, int y) {
    if (Handle() != nullptr)
        SetWindowPos(Handle(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32StatusWindow::PostToUi(std::function<void()> fn) { m_queue.Post(std::move(fn)); }
