#pragma once
#include "app/progress_dlg.h"
#include "ui/win32/win32_dialog.h"

// The status window (resource 104): modeless, always on top, owned by the main
// window; its close box and the slider go to the rules, and it becomes a
// layered window whose alpha follows the slider.
class Win32StatusWindow : public win32face::Dialog, public win32face::Controls<IStatusView> {
public:
    Win32StatusWindow(CProgressDlg& rules, HWND owner);
    ~Win32StatusWindow() override;

    // IStatusView.
    void SetIndicatorColour(uint32_t colour) override;
    void SetSliderRange(int id, int min, int max, int lineStep, int pageStep) override;
    void SetSliderPos(int id, int pos) override;
    int SliderPos(int id) const override;
    void SetOpacity(int alpha) override;
    void ShowWindow(WindowShow how) override;
    Rect WorkArea() const override;
    Rect WindowRect() const override;
    void MoveWindow(int x, int y) override;
    void PostToUi(std::function<void()> fn) override;

    // For tests: the alpha the window was last given (-1: not layered yet).
    int LayeredAlpha() const;

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void TextChanged(int id) override;

private:
    void RepaintBar();

    CProgressDlg& m_rules;
    win32face::UiQueue m_queue;
    win32face::Font m_barFont{20, L"Arial"};
    win32face::ColourBrush m_barBrush;
    uint32_t m_barColour = 0;
};
