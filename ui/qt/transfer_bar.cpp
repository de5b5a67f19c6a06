#include "ui/qt/transfer_bar.h"

#include <QFont>
#include <QLabel>
#include <QPainter>

#include "relay/display.h"

QColor ToQColor(uint32_t colour) {
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

TransferBar::TransferBar(int barId, int textId, QWidget* parent)
    : QWidget(parent), m_colour(kNormalColour), m_text(new QLabel(this)) {
    setObjectName(QString::number(barId));
    // The indicator's font: Arial-like sans serif at 20 pixels.
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(20);
    font.setWeight(QFont::Normal);
    m_text->setFont(font);
    m_text->setObjectName(QString::number(textId));
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setAttribute(Qt::WA_TranslucentBackground);
    QPalette pal = m_text->palette();
    pal.setColor(QPalette::WindowText, Qt::white);
    m_text->setPalette(pal);
    m_text->setAutoFillBackground(false);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize TransferBar::sizeHint() const { return {300, 28}; }

void TransferBar::SetColour(uint32_t colour) {
    if (colour != m_colour) {
        m_colour = colour;
        update();
    }
}

void TransferBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(m_colour));
}

void TransferBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_text->setGeometry(rect());
}
