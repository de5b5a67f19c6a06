#pragma once
#include <string>
#include <vector>

namespace platform {

// The serial ports the system reports (device paths such as "/dev/ttyUSB0"), in
// the order libserialport gives them; empty when it reports none or fails.
std::vector<std::string> ListSerialPorts();

}  // namespace platform
