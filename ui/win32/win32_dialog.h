#pragma once
#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "app/dialog_controls.h"

// The Win32 face's common ground: a dialog from the resources that finds its
// object through DWLP_USER, the white background with black static texts, the
// one message loop, and the queue through which other threads reach a window.
namespace win32face {

// Resource IDs of the program's own resources.
inline constexpr int kIdMainWindow = 102;
inline constexpr int kIdSettingDialog = 103;
inline constexpr int kIdStatusWindow = 104;
inline constexpr int kIdAboutBox = 105;
inline constexpr int kIdDownloadWindow = 106;
inline constexpr int kIdAppIcon = 128;
inline constexpr int kIdTrayMenu = 129;

// The window background colour of the main window, the status window, the
// about box and the settings dialog.
inline constexpr COLORREF kBackground = RGB(255, 255, 255);

// Posted to a window to run what other threads queued for it.
inline constexpr UINT kRunQueued = WM_APP + 1;

// The application icon (resource 128) at a size; loaded once, never destroyed.
HICON AppIcon(int size);
// The application icon at the sizes the display's scaling asks for: the small
// one of title bars and the tray, the large one of the task switcher.
HICON SmallAppIcon();
HICON LargeAppIcon();

// Runs the user-interface thread's messages until *ended turns true (never,
// for a null pointer). Enter and Escape key-downs are discarded before
// dispatch; keyboard navigation reaches every dialog. Returns false when a
// quit was taken; a nested loop (nested true) leaves it queued for the loop
// outside.
bool RunMessageLoop(const bool* ended, bool nested);
// Wakes RunMessageLoop so that it looks at *ended again.
void WakeMessageLoop();

// Functions queued from any thread, run on the window's thread in order.
class UiQueue {
public:
    void Open(HWND target);
    // Dropped once the queue is closed. Any thread.
    void Post(std::function<void()> fn);
    // Runs what is queued (the window's thread, on kRunQueued).
    void RunQueued();
    // Drops what is queued and everything posted later.
    void Close();

private:
    std::mutex m_lock;
    HWND m_target = nullptr;
    std::deque<std::function<void()>> m_queue;
};

class ColourBrush;

// One dialog window made from a dialog resource, owned by this object.
class Dialog {
public:
    Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;
    virtual ~Dialog();

    HWND Handle() const { return m_hwnd; }
    HWND Item(int id) const { return m_hwnd == nullptr ? nullptr : GetDlgItem(m_hwnd, id); }
    // Destroys the window now (WM_DESTROY reaches OnMessage first); each
    // derived class calls it in its destructor, while its part still exists.
    void Destroy();

protected:
    // Makes the window (modeless) from resource id; WM_INITDIALOG arrives at
    // OnMessage before this returns.
    bool Create(int resourceId, HWND owner);
    // A message of this dialog; true when handled, with result as the dialog
    // procedure's value (brushes for colour requests, DWLP_MSGRESULT otherwise).
    virtual bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) = 0;
    // Black text on the white background for static-type controls and the
    // dialog itself; null for other controls (the default then applies).
    HBRUSH WhiteStaticColours(UINT msg, HDC dc);
    // Colours of a window with the indicator bar (barId, in barColour) and
    // the white transfer text over it (textId); every other static control
    // and the dialog itself black on white. For WM_CTLCOLORSTATIC.
    HBRUSH IndicatorColours(HWND control, HDC dc, int barId, int textId, COLORREF barColour,
                            ColourBrush& barBrush);
    // Sets a message result the dialog manager passes on.
    void SetResult(LRESULT value);

private:
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND m_hwnd = nullptr;
    HBRUSH m_bkBrush = nullptr;
};

// A solid brush that follows one colour, made anew when the colour changes.
class ColourBrush {
public:
    ~ColourBrush();
    HBRUSH Get(COLORREF colour);

private:
    HBRUSH m_brush = nullptr;
    COLORREF m_colour = 0;
};

// A font owned by its object.
class Font {
public:
    Font(int height, const wchar_t* face);
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    HFONT Get() const { return m_font; }

private:
    HFONT m_font;
};

// The indicator colour of the rules (0x00BBGGRR, as the core keeps it).
inline COLORREF AsColorRef(uint32_t colour) { return static_cast<COLORREF>(colour); }

// IDialogControls over a dialog's child windows, addressed by their IDs.
namespace controls {
void SetText(HWND dialog, int id, const std::string& text);
std::string Text(HWND dialog, int id);
void Enable(HWND dialog, int id, bool enabled);
void SetCheck(HWND dialog, int id, bool checked);
bool IsChecked(HWND dialog, int id);
void ResetItems(HWND dialog, int id);
void AddItem(HWND dialog, int id, const std::string& text);
int ItemCount(HWND dialog, int id);
std::string ItemText(HWND dialog, int id, int index);
int Selection(HWND dialog, int id);
void Select(HWND dialog, int id, int index);
}  // namespace controls

template <class View>
class Controls : public View {
public:
    explicit Controls(const Dialog& dialog) : m_dialog(dialog) {}
    void SetText(int id, const std::string& text) override {
        controls::SetText(m_dialog.Handle(), id, text);
        TextChanged(id);
    }
    void Enable(int id, bool enabled) override { controls::Enable(m_dialog.Handle(), id, enabled); }
    void SetCheck(int id, bool checked) override {
        controls::SetCheck(m_dialog.Handle(), id, checked);
    }
    bool IsChecked(int id) const override { return controls::IsChecked(m_dialog.Handle(), id); }
    void ResetItems(int id) override { controls::ResetItems(m_dialog.Handle(), id); }
    void AddItem(int id, const std::string& text) override {
        controls::AddItem(m_dialog.Handle(), id, text);
    }
    int ItemCount(int id) const override { return controls::ItemCount(m_dialog.Handle(), id); }
    std::string ItemText(int id, int index) const override {
        return controls::ItemText(m_dialog.Handle(), id, index);
    }
    int Selection(int id) const override { return controls::Selection(m_dialog.Handle(), id); }
    void Select(int id, int index) override { controls::Select(m_dialog.Handle(), id, index); }

protected:
    // A control's text was set (the transfer-state text repaints its bar).
    virtual void TextChanged(int /*id*/) {}

private:
    const Dialog& m_dialog;
};

}  // namespace win32face
