#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "app/dialog_controls.h"
#include "app/display_queue.h"
#include "relay/display.h"

// The status window as a face draws it: controls 1016 to 1022 and 1006.
class IStatusView : public IDialogControls {
public:
    // The transfer-state indicator (1018) in a new colour; only the bar repaints.
    virtual void SetIndicatorColour(uint32_t colour) = 0;
    // The opacity slider (1016). Setting it from here never reports a move.
    virtual void SetSliderRange(int id, int min, int max, int lineStep, int pageStep) = 0;
    virtual void SetSliderPos(int id, int pos) = 0;
    virtual int SliderPos(int id) const = 0;
    // The whole window's opacity, alpha of 255.
    virtual void SetOpacity(int alpha) = 0;
    virtual void ShowWindow(WindowShow how) = 0;
    // The primary display's work area (the screen less the taskbar, wherever
    // that sits), the window's own frame, and a move of the frame's top-left
    // corner.
    virtual Rect WorkArea() const = 0;
    virtual Rect WindowRect() const = 0;
    virtual void MoveWindow(int x, int y) = 0;
    // Runs fn on the user-interface thread, later, in posting order; dropped
    // when the window is gone. Any thread.
    virtual void PostToUi(std::function<void()> fn) = 0;
};

// Where the status window's frame goes in a work area: its right edge 2 pixels
// from the area's right edge, its bottom edge 5 above the area's bottom (the
// place the window had above the taskbar of its time). A frame larger than
// the area keeps its top-left corner inside, so the caption can be reached.
Rect StatusWindowPlace(const Rect& workArea, const Rect& frame);

// The status window's rules: a small always-on-top window in the bottom-right
// corner of the screen that repeats the relay's three display lines and can be
// made translucent with its slider; its close box hides it. Created once by the
// main window, which owns it. User-interface thread, except the display writes.
class CProgressDlg : public IDisplayTarget {
public:
    // Takes its window and initialises it: light-blue indicator, empty transfer
    // text, slider 100..255 at 255 (steps 1 and 5), opaque, bottom-right corner.
    void OnInitDialog(IStatusView& view);
    // The window is gone; nothing is drawn any more.
    void Detach() { m_view = nullptr; }

    void Show(bool show);
    // The slider moved: the window takes its position as the opacity.
    void OnHScroll();
    // The close box: the window is hidden; texts, place and opacity stay.
    void OnClose();
    // Into the bottom-right corner of the work area (StatusWindowPlace); also
    // when the work area changes (the taskbar moved or grew).
    void PlaceOnScreen();

    // The link line, written at once (the first show copies the main window's).
    void SetLinkTextNow(const std::string& text);
    const std::string& LinkText() const { return m_linkText; }
    int Alpha() const { return m_alpha; }

    // IDisplayTarget: any thread; each write is handed to the window's thread.
    void SetLinkText(const std::string& text) override;
    void SetProgressText(const std::string& text) override;
    void SetTransferState(const std::string& text, uint32_t colour) override;

private:
    void Post(std::function<void()> fn);

    // Set before the window becomes a display target and cleared only after the
    // relay workers have stopped, so the workers read it without a lock.
    IStatusView* m_view = nullptr;
    CDisplayQueue m_display;
    int m_alpha = 255;
    std::string m_linkText;
};
