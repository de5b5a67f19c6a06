#pragma once
#include <QPointer>
#include <vector>

#include "app/message_box.h"

class QMessageBox;

// The program's message boxes as QMessageBox, owned by the window the user is
// working in (the modal one, else the active one). A notice is a box of its
// own that is shown and left standing; it goes when answered, or with this
// object.
class QtMessageBoxes : public msgbox::IMessageBoxes {
public:
    QtMessageBoxes() = default;
    ~QtMessageBoxes() override;
    QtMessageBoxes(const QtMessageBoxes&) = delete;
    QtMessageBoxes& operator=(const QtMessageBoxes&) = delete;

    msgbox::Answer Show(const msgbox::Request& request) override;
    void Notify(const msgbox::Request& request) override;

private:
    std::vector<QPointer<QMessageBox>> m_notices;  // deleted once answered
};
