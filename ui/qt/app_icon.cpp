#include "ui/qt/app_icon.h"

#include <QPalette>
#include <QWidget>

// The resources live in a static library, so they are registered by hand.
static void InitBriskenResources() { Q_INIT_RESOURCE(brisken); }

QIcon AppIcon() {
    static const bool registered = (InitBriskenResources(), true);
    (void)registered;
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/brisken/brisken-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

void PaintWhite(QWidget* window) {
    QPalette pal = window->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    window->setPalette(pal);
    window->setAutoFillBackground(true);
}
