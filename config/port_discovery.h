#pragma once
#include <string>
#include <vector>

// A drop-down port list as the discovery code sees it; the Qt combo boxes and
// the tests each adapt to it.
class PortList {
public:
    virtual ~PortList() = default;
    virtual int Count() const = 0;
    virtual std::string Text(int index) const = 0;
    virtual void Append(const std::string& text) = 0;
    virtual int Selected() const = 0;     // -1 when nothing is selected
    virtual void Select(int index) = 0;
};

// Supplies the serial ports the system reports, in its order.
using PortSource = std::vector<std::string> (*)();

// The ports libserialport reports (device paths), in its order.
std::vector<std::string> SystemSerialPorts();

// Appends the reported ports (and the configured device path when it exists but
// was not reported) to the list: returns how many came from the source, or 0 when
// none did and "COM1".."COM20" were appended instead. Items already there stay first.
int EnumerateSerialPorts(PortList& list, PortSource source = &SystemSerialPorts);

// Selects the first item equal (case included) to the configured port's name;
// no match keeps the selection.
void SelectPortItem(PortList& list);
