#pragma once
#include <QWidget>
#include <cstdint>

class QLabel;

// The transfer-state indicator: a solid bar in the indicator colour with the
// white transfer-state text laid over it. The bar and the text are separate
// controls (each with its own ID) as the windows' layouts name them.
class TransferBar : public QWidget {
    Q_OBJECT

public:
    TransferBar(int barId, int textId, QWidget* parent);

    // Sets the colour (a Windows-style RGB value); repaints only the bar.
    // User-interface thread.
    void SetColour(uint32_t colour);
    uint32_t Colour() const { return m_colour; }
    QLabel* TextLabel() const { return m_text; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    uint32_t m_colour;
    QLabel* m_text;
};

// A Windows-style RGB value as a Qt colour.
QColor ToQColor(uint32_t colour);
