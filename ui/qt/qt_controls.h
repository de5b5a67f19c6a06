#pragma once
#include <QString>
#include <string>

class QWidget;

// The Qt face's controls by numeric ID: each control's objectName is its ID.
namespace qtface {

QString Q(const std::string& utf8);
QWidget* Control(const QWidget* root, int id);

void SetText(QWidget* root, int id, const std::string& text);
void Enable(QWidget* root, int id, bool enabled);
void SetCheck(QWidget* root, int id, bool checked);
bool IsChecked(const QWidget* root, int id);
void ResetItems(QWidget* root, int id);
void AddItem(QWidget* root, int id, const std::string& text);
int ItemCount(const QWidget* root, int id);
std::string ItemText(const QWidget* root, int id, int index);
int Selection(const QWidget* root, int id);
void Select(QWidget* root, int id, int index);

}  // namespace qtface

// IDialogControls for a view whose controls live under one Qt widget.
template <class View>
class QtControls : public View {
public:
    explicit QtControls(QWidget* root) : m_root(root) {}

    void SetText(int id, const std::string& text) override { qtface::SetText(m_root, id, text); }
    void Enable(int id, bool enabled) override { qtface::Enable(m_root, id, enabled); }
    void SetCheck(int id, bool checked) override { qtface::SetCheck(m_root, id, checked); }
    bool IsChecked(int id) const override { return qtface::IsChecked(m_root, id); }
    void ResetItems(int id) override { qtface::ResetItems(m_root, id); }
    void AddItem(int id, const std::string& text) override { qtface::AddItem(m_root, id, text); }
    int ItemCount(int id) const override { return qtface::ItemCount(m_root, id); }
    std::string ItemText(int id, int index) const override {
        return qtface::ItemText(m_root, id, index);
    }
    int Selection(int id) const override { return qtface::Selection(m_root, id); }
    void Select(int id, int index) override { qtface::Select(m_root, id, index); }

private:
    QWidget* m_root;
};
