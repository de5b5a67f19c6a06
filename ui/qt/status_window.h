#pragma once
#include <QDialog>

#include "app/progress_dlg.h"
#include "ui/qt/qt_controls.h"

class QSlider;
class TransferBar;

// The status window in Qt: always on top, its close box and slider forwarded to
// the rules.
class QtStatusWindow : public QDialog, public QtControls<IStatusView> {
public:
    explicit QtStatusWindow(CProgressDlg& rules);

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

    uint32_t BarColour() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QSlider* Slider(int id) const;

    CProgressDlg& m_rules;
    TransferBar* m_transferBar;
};
