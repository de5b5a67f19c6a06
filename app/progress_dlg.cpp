#include "app/progress_dlg.h"

#include <algorithm>

#include "app/control_ids.h"

void CProgressDlg::OnInitDialog(IStatusView& view) {
    m_view = &view;
    m_view->SetIndicatorColour(kNormalColour);
    m_view->SetText(ids::kStatusTransferText, "");
    m_view->SetSliderRange(ids::kAlphaSlider, 100, 255, 1, 5);
    m_view->SetSliderPos(ids::kAlphaSlider, 255);
    m_alpha = 255;
    PlaceOnScreen();
}

void CProgressDlg::Show(bool show) {
    if (m_view != nullptr) m_view->ShowWindow(show ? WindowShow::Show : WindowShow::Hide);
}

void CProgressDlg::OnHScroll() {
    if (m_view == nullptr) return;
    m_alpha = m_view->SliderPos(ids::kAlphaSlider);
    m_view->SetOpacity(m_alpha);
}

void CProgressDlg::OnClose() { Show(false); }

Rect StatusWindowPlace(const Rect& workArea, const Rect& frame) {
    Rect place = frame;
    place.x = std::max(workArea.x, workArea.x + workArea.width - frame.width - 2);
    place.y = std::max(workArea.y, workArea.y + workArea.height - frame.height - 5);
    return place;
}

void CProgressDlg::PlaceOnScreen() {
    if (m_view == nullptr) return;
    const Rect area = m_view->WorkArea();
    if (area.width <= 0 || area.height <= 0) return;
    const Rect place = StatusWindowPlace(area, m_view->WindowRect());
    m_view->MoveWindow(place.x, place.y);
}

void CProgressDlg::SetLinkTextNow(const std::string& text) {
    m_linkText = text;
    if (m_view != nullptr) m_view->SetText(ids::kStatusLinkLine, text);
}

void CProgressDlg::Post(std::function<void()> fn) {
    m_display.Post(m_view, std::move(fn));
}

// Every write is queued, also from this thread, so the lines always end on the
// last value written, in the order written.
void CProgressDlg::SetLinkText(const std::string& text) {
    Post([this, text] { SetLinkTextNow(text); });
}

void CProgressDlg::SetProgressText(const std::string& text) {
    Post([this, text] { m_view->SetText(ids::kProgressLine, text); });
}

void CProgressDlg::SetTransferState(const std::string& text, uint32_t colour) {
    Post([this, text, colour] {
        m_view->SetText(ids::kStatusTransferText, text);
        m_view->SetIndicatorColour(colour);
    });
}
