#include "ui/qt/dialog_keys.h"

#include <QEvent>
#include <QKeyEvent>
#include <QWidget>

namespace {

class EnterEscapeFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // A focused push button clicks itself on Enter and a dialog rejects on
        // Escape; both are stopped before the widget sees the key.
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

void DiscardEnterEscape(QWidget* window) {
    auto* filter = new EnterEscapeFilter(window);
    window->installEventFilter(filter);
    const auto children = window->findChildren<QWidget*>();
    for (QWidget* child : children) child->installEventFilter(filter);
}
