#include "platform/serial_ports.h"
#include "platform/windows/registry.h"

namespace platform {

std::vector<std::string> ListSerialPorts() {
    return win::RegValueTexts(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
}

}  // namespace platform
