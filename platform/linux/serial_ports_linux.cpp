#include "platform/serial_ports.h"

#include <libserialport.h>

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

}  // namespace platform
