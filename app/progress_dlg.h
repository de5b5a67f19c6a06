#pragma once
#include <QDialog>
#include <QRect>
#include <cstdint>
#include <functional>
#include <string>

#include "relay/display.h"

class QLabel;
class QSlider;
class TransferBar;

// The status window: a small always-on-top window in the bottom-right corner of
// the screen that repeats the relay's three display lines and can be made
// translucent with its slider. Its close box hides it. Created once by the main
// window, which owns it.
class CProgressDlg : public QDialog, public IDisplayTarget {
    Q_OBJECT

public:
    // The screen rectangle the window is placed in (default: the primary
    // screen's full geometry).
    using ScreenRect = std::function<QRect()>;

    explicit CProgressDlg(ScreenRect screenRect = {});

    // IDisplayTarget: any thread; each write is handed to the window's thread.
    void SetLinkText(const std::string& text) override;
    void SetProgressText(const std::string& text) override;
    void SetTransferState(const std::string& text, uint32_t colour) override;

    // User-interface thread.
    void SetLinkTextNow(const QString& text);
    QString LinkText() const;
    int Alpha() const { return m_alpha; }
    // Bottom-right corner: 2 pixels from the right edge, 35 above the bottom.
    void PlaceOnScreen();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void OnSliderMoved(int value);

    ScreenRect m_screenRect;
    int m_alpha = 255;
    QLabel* m_linkText;
    QLabel* m_progressText;
    TransferBar* m_transferBar;
    QSlider* m_alphaSlider;
};
