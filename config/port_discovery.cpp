#include "config/port_discovery.h"

#include <algorithm>

#include "config/settings.h"
#include "platform/serial_ports.h"
#include "platform/system.h"

std::vector<std::string> SystemSerialPorts() { return platform::ListSerialPorts(); }

int EnumerateSerialPorts(PortList& list, PortSource source) {
    const std::vector<std::string> ports = source ? source() : std::vector<std::string>{};
    for (const auto& name : ports) list.Append(name);
    const int found = static_cast<int>(ports.size());
    if (found == 0) {
        for (int n = 1; n <= 20; ++n) list.Append("COM" + std::to_string(n));
    }
    // Pseudo-terminals and /dev/serial/by-id links are usable but never reported;
    // a configured one that exists is offered so that it can be selected.
    if (g_comPort <= 0 && !g_comPortPath.empty() &&
        std::find(ports.begin(), ports.end(), g_comPortPath) == ports.end() &&
        platform::PathExists(g_comPortPath)) {
        list.Append(g_comPortPath);
    }
    return found;
}

void SelectPortItem(PortList& list) {
    const std::string name = ConfiguredPortName();
    if (name.empty()) return;
    const int count = list.Count();
    for (int i = 0; i < count; ++i) {
        if (list.Text(i) == name) {
            list.Select(i);
            return;
        }
    }
}
