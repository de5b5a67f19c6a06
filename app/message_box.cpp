#include "app/message_box.h"

#include <QMessageBox>
#include <mutex>

#include "config/paths.h"

namespace msgbox {
namespace {

Answerer& CurrentAnswerer() {
    static Answerer answerer;
    return answerer;
}

}  // namespace

void SetAnswerer(Answerer answerer) { CurrentAnswerer() = std::move(answerer); }

Answer Show(QWidget* parent, const Request& request) {
    if (CurrentAnswerer()) return CurrentAnswerer()(request);

    QMessageBox box(parent);
    box.setWindowTitle(request.caption);
    box.setText(request.text);
    box.setIcon(request.icon == Icon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    switch (request.buttons) {
        case Buttons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
        case Buttons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
        case Buttons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    }
    switch (box.exec()) {
        case QMessageBox::Yes: return Answer::Yes;
        case QMessageBox::No: return Answer::No;
        case QMessageBox::Cancel: return Answer::Cancel;
        default: return request.buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    }
}

Answer Ask(QWidget* parent, const QString& text, Buttons buttons) {
    return Show(parent, {QStringLiteral("Talmira"), text, buttons, Icon::None});
}

void ShowAppMessage(const QString& text) {
    Show(nullptr, {QString::fromStdString(g_paths.exeBase), text, Buttons::Ok, Icon::Exclamation});
}

}  // namespace msgbox
