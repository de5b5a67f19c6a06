#include "ui/qt/message_boxes.h"

#include <QApplication>
#include <QMessageBox>

#include "ui/qt/qt_controls.h"

msgbox::Answer QtMessageBoxes::Show(const msgbox::Request& request) {
    using msgbox::Answer;
    using msgbox::Buttons;
    QWidget* owner = QApplication::activeModalWidget();
    if (owner == nullptr) owner = QApplication::activeWindow();
    QMessageBox box(owner);
    box.setWindowTitle(qtface::Q(request.caption));
    box.setText(qtface::Q(request.text));
    box.setIcon(request.icon == msgbox::Icon::Exclamation ? QMessageBox::Warning
                                                          : QMessageBox::NoIcon);
    switch (request.buttons) {
        case Buttons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case Buttons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case Buttons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        case QMessageBox::Cancel:
            return Answer::Cancel;
        default:
            return request.buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    }
}
