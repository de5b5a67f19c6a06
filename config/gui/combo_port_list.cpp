#include "config/gui/combo_port_list.h"

#include <QComboBox>

int ComboPortList::Count() const { return m_combo.count(); }

std::string ComboPortList::Text(int index) const { return m_combo.itemText(index).toStdString(); }

void ComboPortList::Append(const std::string& text) {
    m_combo.addItem(QString::fromStdString(text));
}

int ComboPortList::Selected() const { return m_combo.currentIndex(); }

void ComboPortList::Select(int index) { m_combo.setCurrentIndex(index); }
