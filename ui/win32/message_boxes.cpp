#include "ui/win32/message_boxes.h"

#include <algorithm>
#include <chrono>

#include "platform/windows/text.h"

using platform::win::Utf8;
using platform::win::Wide;

namespace {

// A named WINAPI function, not a lambda: a lambda's function pointer has the
// C calling convention, which on 32-bit Windows is not the callback's.
BOOL CALLBACK CloseThreadWindow(HWND hwnd, LPARAM) {
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    return TRUE;
}

}  // namespace

UINT Win32MessageBoxes::Flags(const msgbox::Request& request) {
    UINT flags = 0;
    switch (request.buttons) {
        case msgbox::Buttons::Ok:
            flags = MB_OK;
            break;
        case msgbox::Buttons::OkCancel:
            flags = MB_OKCANCEL;
            break;
        case msgbox::Buttons::YesNo:
            flags = MB_YESNO;
            break;
    }
    if (request.icon == msgbox::Icon::Exclamation) flags |= MB_ICONEXCLAMATION;
    return flags;
}

Win32MessageBoxes::~Win32MessageBoxes() { CloseNotices(); }

msgbox::Answer Win32MessageBoxes::Show(const msgbox::Request& request) {
    HWND owner = GetActiveWindow();
    const int answer = MessageBoxW(owner, Wide(request.text).c_str(), Wide(request.caption).c_str(),
                                   Flags(request));
    switch (answer) {
        case IDYES:
            return msgbox::Answer::Yes;
        case IDNO:
            return msgbox::Answer::No;
        case IDCANCEL:
            return msgbox::Answer::Cancel;
        default:
            return request.buttons == msgbox::Buttons::YesNo ? msgbox::Answer::No
                                                             : msgbox::Answer::Ok;
    }
}

void Win32MessageBoxes::Notify(const msgbox::Request& request) {
    std::erase_if(m_notices, [](const std::unique_ptr<Notice>& n) {
        if (!n->done.load()) return false;
        n->thread.join();
        return true;
    });
    auto notice = std::make_unique<Notice>();
    Notice* raw = notice.get();
    const std::wstring text = Wide(request.text);
    const std::wstring caption = Wide(request.caption);
    const UINT flags = Flags(request) | MB_SETFOREGROUND | MB_TOPMOST;
    raw->thread = std::thread([raw, text, caption, flags] {
        raw->threadId = GetCurrentThreadId();
        // No owner: the box belongs to this thread only and touches no window
        // of the program.
        MessageBoxW(nullptr, text.c_str(), caption.c_str(), flags);
        raw->done = true;
    });
    m_notices.push_back(std::move(notice));
}

void Win32MessageBoxes::CloseNotices() {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::seconds(5);
    for (const std::unique_ptr<Notice>& notice : m_notices) {
        // The box may not be up yet: answer it for a bounded while.
        while (!notice->done.load() && Clock::now() < until) {
            const DWORD id = notice->threadId.load();
            if (id != 0) {
                EnumThreadWindows(id, CloseThreadWindow, 0);
            }
            Sleep(20);
        }
        if (notice->done.load())
            notice->thread.join();
        else
            notice->thread.detach();  // the process ends with it
    }
    m_notices.clear();
}

std::string CommandLineAfterProgram(const wchar_t* commandLine) {
    if (commandLine == nullptr) return {};
    const wchar_t* p = commandLine;
    // The program's name, quoted or up to the first blank.
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"') ++p;
        if (*p == L'"') ++p;
    } else {
        while (*p != L'\0' && *p != L' ' && *p != L'\t') ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return Utf8(std::wstring(p));
}
