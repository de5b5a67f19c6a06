#pragma once
#include <string>

#include "config/port_discovery.h"

// How a window is to be shown.
enum class WindowShow {
    Hide,
    Show,      // as it was, without moving it
    Minimise,  // minimised to the task bar
    Restore,   // back from minimised or hidden, in the foreground
};

// A rectangle in screen pixels.
struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The controls of one dialog, addressed by their numeric IDs, as every window's
// rules see them. Texts are UTF-8. An ID the dialog does not hold is ignored
// (reads give false, 0, "" or -1). User-interface thread only.
class IDialogControls {
public:
    virtual ~IDialogControls() = default;
    virtual void SetText(int id, const std::string& text) = 0;
    virtual void Enable(int id, bool enabled) = 0;
    // Check boxes.
    virtual void SetCheck(int id, bool checked) = 0;
    virtual bool IsChecked(int id) const = 0;
    // Drop-down lists: items in the order added; a selection of -1 is none.
    virtual void ResetItems(int id) = 0;
    virtual void AddItem(int id, const std::string& text) = 0;
    virtual int ItemCount(int id) const = 0;
    virtual std::string ItemText(int id, int index) const = 0;
    virtual int Selection(int id) const = 0;
    virtual void Select(int id, int index) = 0;
};

// A dialog's drop-down list as the port discovery fills and selects in it.
class DialogPortList : public PortList {
public:
    DialogPortList(IDialogControls& controls, int id) : m_controls(controls), m_id(id) {}
    int Count() const override { return m_controls.ItemCount(m_id); }
    std::string Text(int index) const override { return m_controls.ItemText(m_id, index); }
    void Append(const std::string& text) override { m_controls.AddItem(m_id, text); }
    int Selected() const override { return m_controls.Selection(m_id); }
    void Select(int index) override { m_controls.Select(m_id, index); }

private:
    IDialogControls& m_controls;
    int m_id;
};
