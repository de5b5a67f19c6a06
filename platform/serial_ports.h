#pragma once
#include <string>
#include <vector>

namespace platform {

// The serial ports the system reports, in its order; empty when it reports
// none or fails. Windows: the data of the values of HKEY_LOCAL_MACHINE
// HARDWARE\DEVICEMAP\SERIALCOMM ("COM3"), in registry order. Linux: device
// paths ("/dev/ttyUSB0") in the order libserialport gives them.
std::vector<std::string> ListSerialPorts();

}  // namespace platform

namespace platform {

// A present serial port and what identifies the device behind it: "USB
// vvvv:pppp serial" for a USB adapter with a serial number, "USB vvvv:pppp
// @location" for one without (the same adapter in another socket is then
// another device), "" when nothing identifies it (a built-in port).
struct PortIdentity {
    std::string port;      // as ListSerialPorts names it ("COM7", "/dev/ttyUSB1")
    std::string identity;
};

// The present ports with their identities; empty when the system reports none
// or fails. Windows: SetupAPI's present COM port interfaces, the port's
// "PortName" and the device instance ID. Linux: libserialport's USB descriptors.
std::vector<PortIdentity> ListPortIdentities();

// The identity a Windows device instance ID gives (of
// "USB\VID_1A86&PID_7523\5&2A3B&0&2"): a third part with '&' is the one Windows made up from the
// adapter's place on the hub (no serial number), so it is kept as the
// location. "" when the ID is not a USB one.
inline std::string IdentityFromInstanceId(const std::string& instanceId) {
    auto upper = [](std::string t) {
        for (char& c : t)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        return t;
    };
    const std::string id = upper(instanceId);
    // FTDI's own driver: "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000".
    if (id.rfind("FTDIBUS\\VID_", 0) == 0 && id.size() > 27 && id.compare(16, 5, "+PID_") == 0 &&
        id[25] == '+') {
        const size_t end = instanceId.find('\\', 26);
        std::string ids = id.substr(12, 4) + ":" + id.substr(21, 4);
        for (char& c : ids)
            if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
        return "USB " + ids + " " + instanceId.substr(26, end == std::string::npos ? end : end - 26);
    }
    // "USB\VID_xxxx&PID_xxxx\rest"; a composite adapter's port is "...&MI_nn".
    if (id.rfind("USB\\VID_", 0) != 0 || id.size() < 21 || id.compare(12, 5, "&PID_") != 0)
        return "";
    const size_t rest = id.find('\\', 4);
    if (rest == std::string::npos || rest + 1 >= id.size()) return "";
    std::string ids = id.substr(8, 4) + ":" + id.substr(17, 4);
    for (char& c : ids)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    const std::string third = instanceId.substr(rest + 1);
    if (third.find('&') != std::string::npos) return "USB " + ids + " @" + third;
    return "USB " + ids + " " + third;
}

}  // namespace platform
