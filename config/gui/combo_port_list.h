#pragma once
#include "config/port_discovery.h"

class QComboBox;

// A Qt drop-down seen as the port list the discovery code fills and selects in.
class ComboPortList : public PortList {
public:
    explicit ComboPortList(QComboBox& combo) : m_combo(combo) {}
    int Count() const override;
    std::string Text(int index) const override;
    void Append(const std::string& text) override;
    int Selected() const override;
    void Select(int index) override;

private:
    QComboBox& m_combo;
};
