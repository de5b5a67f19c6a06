#include "ui/qt/message_boxes.h"

#include <QApplication>
#include <QMessageBox>

#include "ui/qt/qt_controls.h"

namespace {

QWidget* Owner() {
    QWidget* owner = QApplication::activeModalWidget();
    return owner != nullptr ? owner : QApplication::activeWindow();
}

void Fill(QMessageBox& box, const msgbox::Request& request) {
    using msgbox::Buttons;
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
}

}  // namespace

QtMessageBoxes::~QtMessageBoxes() {
    for (const QPointer<QMessageBox>& box : m_notices) delete box.data();
}

msgbox::Answer QtMessageBoxes::Show(const msgbox::Request& request) {
    using msgbox::Answer;
    QMessageBox box(Owner());
    Fill(box, request);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        case QMessageBox::Cancel:
            return Answer::Cancel;
        default:
            return request.buttons == msgbox::Buttons::YesNo ? Answer::No : Answer::Ok;
    }
}

void QtMessageBoxes::Notify(const msgbox::Request& request) {
    std::erase_if(m_notices, [](const QPointer<QMessageBox>& box) { return box.isNull(); });
    auto* box = new QMessageBox(Owner());
    Fill(*box, request);
    // Not modal: it blocks neither this loop nor the windows around it.
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
    m_notices.emplace_back(box);
}
