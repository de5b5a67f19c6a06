#pragma once
#include <string>

// Every message box of the program goes through one interface: each face shows
// the boxes its own way, and tests answer the questions instead of a person.
namespace msgbox {

enum class Buttons { Ok, OkCancel, YesNo };
enum class Answer { Ok, Cancel, Yes, No };
enum class Icon { None, Exclamation };

struct Request {
    std::string caption;
    std::string text;  // UTF-8; "\n" breaks a line
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
};

// Show: one box modally, owned by the window the user is working in; returns
// the answer (closing the box answers No to Yes/No, otherwise Ok or Cancel as
// its buttons say). For questions, and for what a person's click raised.
// Notify: the same box, shown without waiting: it returns at once and the box
// stands until someone answers it; nobody reads the answer. For notices the
// program must go on under (the start serves the terminal meanwhile).
// User-interface thread only.
class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    virtual Answer Show(const Request& request) = 0;
    virtual void Notify(const Request& request) = 0;
};

// A window's own question or warning: caption "Talmira", no icon.
Request WindowQuestion(const std::string& text, Buttons buttons);

// The application's plain box: caption ExeBase, one OK button, exclamation icon.
Request AppMessage(const std::string& text);

}  // namespace msgbox
