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
