#include "ui/win32/about_box.h"

#include <commctrl.h>
#include <shellapi.h>

#include "platform/windows/text.h"

using namespace win32face;
using platform::win::Utf8;
using platform::win::Wide;

namespace {

constexpr int kIconPicture = 1025;  // CAboutDialog's IDC_ICON

bool IsHelpLink(int id) { return id >= CAboutDialog::IDC_HELP1 && id <= CAboutDialog::IDC_HELP3; }

}  // namespace

Win32AboutBox::Win32AboutBox(CAboutDialog& rules, HWND owner, UrlOpener opener)
    : Controls<IAboutView>(static_cast<const Dialog&>(*this)),
      m_rules(rules),
      m_opener(std::move(opener)) {
    Create(kIdAboutBox, owner);
}

bool Win32AboutBox::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (msg) {
        case WM_INITDIALOG:
            SendDlgItemMessageW(Handle(), kIconPicture, STM_SETICON,
                                reinterpret_cast<WPARAM>(AppIcon(32)), 0);
            SendDlgItemMessageW(Handle(), CAboutDialog::IDC_TITLE, WM_SETFONT,
                                reinterpret_cast<WPARAM>(m_titleFont.Get()), TRUE);
            result = TRUE;
            return true;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            const int id = static_cast<int>(header->idFrom);
            if (IsHelpLink(id) && (header->code == NM_CLICK || header->code == NM_RETURN))
                m_rules.OnCommand(id);
            return true;
        }
        case WM_CLOSE:
            m_rules.OnClose();
            return true;
        case WM_COMMAND:
            return true;  // IDOK / IDCANCEL: only the close box hides the box
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORDLG:
            result =
                reinterpret_cast<INT_PTR>(WhiteStaticColours(msg, reinterpret_cast<HDC>(wParam)));
            return true;
        case WM_DESTROY:
            m_rules.Detach();
            return true;
        default:
            return false;
    }
}

void Win32AboutBox::SetLinkUrl(int id, const std::string& url) {
    LITEM item{};
    item.mask = LIF_ITEMINDEX | LIF_URL;
    item.iLink = 0;
    lstrcpynW(item.szUrl, Wide(url).c_str(), L_MAX_URL_LENGTH);
    SendDlgItemMessageW(Handle(), id, LM_SETITEM, 0, reinterpret_cast<LPARAM>(&item));
}

void Win32AboutBox::MarkLinkVisited(int id) {
    LITEM item{};
    item.mask = LIF_ITEMINDEX | LIF_STATE;
    item.iLink = 0;
    item.state = LIS_VISITED;
    item.stateMask = LIS_VISITED;
    SendDlgItemMessageW(Handle(), id, LM_SETITEM, 0, reinterpret_cast<LPARAM>(&item));
}

std::string Win32AboutBox::LinkUrl(int id) const {
    LITEM item{};
    item.mask = LIF_ITEMINDEX | LIF_URL;
    item.iLink = 0;
    if (!SendDlgItemMessageW(Handle(), id, LM_GETITEM, 0, reinterpret_cast<LPARAM>(&item)))
        return {};
    return Utf8(item.szUrl, wcsnlen(item.szUrl, L_MAX_URL_LENGTH));
}

bool Win32AboutBox::LinkVisited(int id) const {
    LITEM item{};
    item.mask = LIF_ITEMINDEX | LIF_STATE;
    item.iLink = 0;
    item.stateMask = LIS_VISITED;
    return SendDlgItemMessageW(Handle(), id, LM_GETITEM, 0, reinterpret_cast<LPARAM>(&item)) &&
           (item.state & LIS_VISITED) != 0;
}

void Win32AboutBox::OpenUrl(const std::string& url) {
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    if (m_opener) {
        m_opener(url);
    } else {
        ShellExecuteW(nullptr, nullptr, Wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    }
    SetCursor(previous);
}

void Win32AboutBox::ShowWindow(WindowShow how) {
    if (Handle() == nullptr) return;
    if (how == WindowShow::Hide) {
        ::ShowWindow(Handle(), SW_HIDE);
        return;
    }
    ::ShowWindow(Handle(), SW_SHOW);
    SetForegroundWindow(Handle());
}
