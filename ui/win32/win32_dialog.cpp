#include "ui/win32/win32_dialog.h"

#include <commctrl.h>

#include <map>
#include <vector>

#include "platform/windows/text.h"

using platform::win::Utf8;
using platform::win::Wide;

namespace win32face {

HICON AppIcon(int size) {
    // Each size is loaded once and kept for the process's life. Not shared
    // through LR_SHARED, which is meant for the standard sizes: a scaled
    // display asks for others (a small icon of 20 or 24 pixels).
    static std::map<int, HICON> loaded;  // user-interface thread only
    HICON& icon = loaded[size];
    if (icon == nullptr)
        icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr),
                                             MAKEINTRESOURCEW(kIdAppIcon), IMAGE_ICON, size, size, 0));
    return icon;
}

HICON SmallAppIcon() { return AppIcon(GetSystemMetrics(SM_CXSMICON)); }

HICON LargeAppIcon() { return AppIcon(GetSystemMetrics(SM_CXICON)); }

namespace {

bool IsDialog(HWND hwnd) {
    wchar_t name[16] = {};
    return GetClassNameW(hwnd, name, 16) > 0 && lstrcmpW(name, L"#32770") == 0;
}

}  // namespace

bool RunMessageLoop(const bool* ended, bool nested) {
    MSG msg;
    while (ended == nullptr || !*ended) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            if (nested) PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        if (got == -1) return false;
        // No dialog of the program is confirmed or dismissed by these keys.
        if (msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE))
            continue;
        HWND root = msg.hwnd == nullptr ? nullptr : GetAncestor(msg.hwnd, GA_ROOT);
        if (root != nullptr && IsDialog(root) && IsDialogMessageW(root, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

void WakeMessageLoop() { PostMessageW(nullptr, WM_NULL, 0, 0); }

// ---- UiQueue ------------------------------------------------------------------

void UiQueue::Open(HWND target) {
    const std::lock_guard<std::mutex> hold(m_lock);
    m_target = target;
}

void UiQueue::Post(std::function<void()> fn) {
    const std::lock_guard<std::mutex> hold(m_lock);
    if (m_target == nullptr) return;
    m_queue.push_back(std::move(fn));
    // One wake-up per function; a drain that finds the queue empty does nothing.
    PostMessageW(m_target, kRunQueued, 0, 0);
}

void UiQueue::RunQueued() {
    for (;;) {
        std::function<void()> fn;
        {
            const std::lock_guard<std::mutex> hold(m_lock);
            if (m_queue.empty()) return;
            fn = std::move(m_queue.front());
            m_queue.pop_front();
        }
        fn();  // outside the lock: it may post again
    }
}

void UiQueue::Close() {
    std::deque<std::function<void()>> dropped;
    const std::lock_guard<std::mutex> hold(m_lock);
    m_target = nullptr;
    dropped.swap(m_queue);
}

// ---- Dialog -------------------------------------------------------------------

Dialog::~Dialog() {
    // The derived object is gone: the window's last messages find no object.
    if (m_hwnd != nullptr) {
        SetWindowLongPtrW(m_hwnd, DWLP_USER, 0);
        DestroyWindow(m_hwnd);
        m_hwnd = nullptr;
    }
    if (m_bkBrush != nullptr) DeleteObject(m_bkBrush);
}

void Dialog::Destroy() {
    if (m_hwnd != nullptr) DestroyWindow(m_hwnd);
}

bool Dialog::Create(int resourceId, HWND owner) {
    if (m_bkBrush == nullptr) m_bkBrush = CreateSolidBrush(kBackground);
    return CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resourceId), owner,
                              &Dialog::Proc, reinterpret_cast<LPARAM>(this)) != nullptr;
}

INT_PTR CALLBACK Dialog::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        self->m_hwnd = hwnd;
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (self == nullptr) return FALSE;
    INT_PTR result = FALSE;
    const bool handled = self->OnMessage(msg, wParam, lParam, result);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_hwnd = nullptr;
    }
    if (!handled) return msg == WM_INITDIALOG ? TRUE : FALSE;
    return result;
}

HBRUSH Dialog::WhiteStaticColours(UINT msg, HDC dc) {
    if (msg == WM_CTLCOLORDLG) return m_bkBrush;
    if (msg == WM_CTLCOLORSTATIC) {
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkMode(dc, TRANSPARENT);
        return m_bkBrush;
    }
    return nullptr;
}

HBRUSH Dialog::IndicatorColours(HWND control, HDC dc, int barId, int textId, COLORREF barColour,
                                ColourBrush& barBrush) {
    const int id = GetDlgCtrlID(control);
    if (id == barId) {
        SetBkMode(dc, OPAQUE);
        SetBkColor(dc, barColour);
        return barBrush.Get(barColour);
    }
    if (id == textId) {
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkMode(dc, TRANSPARENT);
        return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    }
    return WhiteStaticColours(WM_CTLCOLORSTATIC, dc);
}

void Dialog::SetResult(LRESULT value) {
    if (m_hwnd != nullptr) SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, value);
}

// ---- Brushes and fonts ----------------------------------------------------------

ColourBrush::~ColourBrush() {
    if (m_brush != nullptr) DeleteObject(m_brush);
}

HBRUSH ColourBrush::Get(COLORREF colour) {
    if (m_brush == nullptr || colour != m_colour) {
        if (m_brush != nullptr) DeleteObject(m_brush);
        m_brush = CreateSolidBrush(colour);
        m_colour = colour;
    }
    return m_brush;
}

Font::Font(int height, const wchar_t* face)
    : m_font(CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS,
                         face)) {}

Font::~Font() {
    if (m_font != nullptr) DeleteObject(m_font);
}

// ---- Controls by ID -----------------------------------------------------------

namespace controls {

void SetText(HWND dialog, int id, const std::string& text) {
    if (HWND item = GetDlgItem(dialog, id)) SetWindowTextW(item, Wide(text).c_str());
}

std::string Text(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    if (item == nullptr) return {};
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
    const int n = GetWindowTextW(item, text.data(), static_cast<int>(text.size()));
    return Utf8(text.data(), static_cast<size_t>(n < 0 ? 0 : n));
}

void Enable(HWND dialog, int id, bool enabled) {
    if (HWND item = GetDlgItem(dialog, id)) EnableWindow(item, enabled ? TRUE : FALSE);
}

void SetCheck(HWND dialog, int id, bool checked) {
    SendDlgItemMessageW(dialog, id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool IsChecked(HWND dialog, int id) {
    return GetDlgItem(dialog, id) != nullptr && IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void ResetItems(HWND dialog, int id) { SendDlgItemMessageW(dialog, id, CB_RESETCONTENT, 0, 0); }

void AddItem(HWND dialog, int id, const std::string& text) {
    const std::wstring wide = Wide(text);
    SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

int ItemCount(HWND dialog, int id) {
    if (GetDlgItem(dialog, id) == nullptr) return 0;
    const LRESULT n = SendDlgItemMessageW(dialog, id, CB_GETCOUNT, 0, 0);
    return n < 0 ? 0 : static_cast<int>(n);
}

std::string ItemText(HWND dialog, int id, int index) {
    if (index < 0 || index >= ItemCount(dialog, id)) return {};
    const LRESULT length = SendDlgItemMessageW(dialog, id, CB_GETLBTEXTLEN, index, 0);
    if (length < 0) return {};
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT n =
        SendDlgItemMessageW(dialog, id, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    return n < 0 ? std::string() : Utf8(text.data(), static_cast<size_t>(n));
}

int Selection(HWND dialog, int id) {
    if (GetDlgItem(dialog, id) == nullptr) return -1;
    const LRESULT n = SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0);
    return n == CB_ERR ? -1 : static_cast<int>(n);
}

void Select(HWND dialog, int id, int index) {
    SendDlgItemMessageW(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

}  // namespace controls

}  // namespace win32face
