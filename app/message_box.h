#pragma once
#include <QString>
#include <functional>

class QWidget;

// Every message box of the program goes through here, so tests can answer the
// questions instead of a person.
namespace msgbox {

enum class Buttons { Ok, OkCancel, YesNo };
enum class Answer { Ok, Cancel, Yes, No };
enum class Icon { None, Exclamation };

struct Request {
    QString caption;
    QString text;
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
};

// Shows a modal box owned by parent (may be null) and returns the answer.
Answer Show(QWidget* parent, const Request& request);

// A window's own question or warning: caption "Talmira", no icon.
Answer Ask(QWidget* parent, const QString& text, Buttons buttons);

// The application's plain box: caption ExeBase, one OK button, exclamation icon.
void ShowAppMessage(const QString& text);

// Tests: every box goes to the answerer instead of the screen (empty restores).
using Answerer = std::function<Answer(const Request&)>;
void SetAnswerer(Answerer answerer);

}  // namespace msgbox
