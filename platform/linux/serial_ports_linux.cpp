#include "platform/serial_ports.h"

#include <libserialport.h>

#include <cstdio>
#include <memory>

namespace platform {

namespace {
struct PortListFree {
    void operator()(sp_port** list) const { sp_free_port_list(list); }
};
using PortListPtr = std::unique_ptr<sp_port*, PortListFree>;
}  // namespace

std::vector<std::string> ListSerialPorts() {
    std::vector<std::string> names;
    sp_port** raw = nullptr;
    if (sp_list_ports(&raw) != SP_OK) {
        // On failure libserialport frees what it had built and leaves no list.
        return names;
    }
    PortListPtr list(raw);
    for (sp_port** p = list.get(); *p != nullptr; ++p) {
        if (const char* name = sp_get_port_name(*p)) names.emplace_back(name);
    }
    return names;
}

std::vector<PortIdentity> ListPortIdentities() {
    std::vector<PortIdentity> ports;
    sp_port** raw = nullptr;
    if (sp_list_ports(&raw) != SP_OK) return ports;
    PortListPtr list(raw);
    for (sp_port** p = list.get(); *p != nullptr; ++p) {
        const char* name = sp_get_port_name(*p);
        if (name == nullptr) continue;
        PortIdentity port{name, ""};
        int vid = 0;
        int pid = 0;
        if (sp_get_port_transport(*p) == SP_TRANSPORT_USB &&
            sp_get_port_usb_vid_pid(*p, &vid, &pid) == SP_OK) {
            char ids[16];
            std::snprintf(ids, sizeof ids, "%04x:%04x", vid & 0xffff, pid & 0xffff);
            const char* serial = sp_get_port_usb_serial(*p);
            int bus = 0;
            int address = 0;
            if (serial != nullptr && *serial != '\0') {
                port.identity = std::string("USB ") + ids + " " + serial;
            } else if (sp_get_port_usb_bus_address(*p, &bus, &address) == SP_OK) {
                port.identity = std::string("USB ") + ids + " @" + std::to_string(bus) + "-" +
                                std::to_string(address);
            }
        }
        ports.push_back(std::move(port));
    }
    return ports;
}

}  // namespace platform
