#include "ui/qt/qt_controls.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

namespace qtface {

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }

QWidget* Control(const QWidget* root, int id) {
    return root->findChild<QWidget*>(QString::number(id));
}

namespace {

template <class T>
T* As(const QWidget* root, int id) {
    return qobject_cast<T*>(Control(root, id));
}

}  // namespace

void SetText(QWidget* root, int id, const std::string& text) {
    QWidget* control = Control(root, id);
    if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(Q(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(Q(text));
    } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(Q(text));
    } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
        group->setTitle(Q(text));
    }
}

void Enable(QWidget* root, int id, bool enabled) {
    if (QWidget* control = Control(root, id)) control->setEnabled(enabled);
}

void SetCheck(QWidget* root, int id, bool checked) {
    if (auto* box = As<QAbstractButton>(root, id)) box->setChecked(checked);
}

bool IsChecked(const QWidget* root, int id) {
    const auto* box = As<QAbstractButton>(root, id);
    return box != nullptr && box->isChecked();
}

void ResetItems(QWidget* root, int id) {
    if (auto* list = As<QComboBox>(root, id)) list->clear();
}

void AddItem(QWidget* root, int id, const std::string& text) {
    if (auto* list = As<QComboBox>(root, id)) list->addItem(Q(text));
}

int ItemCount(const QWidget* root, int id) {
    const auto* list = As<QComboBox>(root, id);
    return list == nullptr ? 0 : list->count();
}

std::string ItemText(const QWidget* root, int id, int index) {
    const auto* list = As<QComboBox>(root, id);
    return list == nullptr ? std::string() : list->itemText(index).toStdString();
}

int Selection(const QWidget* root, int id) {
    const auto* list = As<QComboBox>(root, id);
    return list == nullptr ? -1 : list->currentIndex();
}

void Select(QWidget* root, int id, int index) {
    if (auto* list = As<QComboBox>(root, id)) list->setCurrentIndex(index);
}

}  // namespace qtface
