#pragma once
#include "app/message_box.h"

// The program's message boxes as QMessageBox, owned by the window the user is
// working in (the modal one, else the active one).
class QtMessageBoxes : public msgbox::IMessageBoxes {
public:
    msgbox::Answer Show(const msgbox::Request& request) override;
};
