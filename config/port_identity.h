#pragma once
#include <string>
#include <vector>

#include "platform/serial_ports.h"

// The terminal's adapter followed to another port number. When a port opens,
// what identifies its device is remembered in a file of the program's own in
// the install folder; when the configured port is not there and exactly one
// present port has that identity, that port is the terminal's.

// Supplies the present ports with their identities (the system's by default;
// tests put in fake device lists).
using PortIdentitySource = std::vector<platform::PortIdentity> (*)();
extern PortIdentitySource g_portIdentitySource;

// The file that holds the remembered identity: the install folder's
// "<program>.port".
std::string KnownIdentityPath();
// The remembered identity; "" when none.
std::string ReadKnownIdentity();
// Remembers the identity of the device now at port (nothing when the port is
// not among the present ones or nothing identifies it). Any thread.
void RememberPortIdentity(const std::string& port);

// The port to open instead of configured: the one present port whose identity
// is known, when configured itself is not present; "" when configured is
// present, nothing is known, or none or several ports match.
std::string FollowedPort(const std::string& configured, const std::string& known,
                         const std::vector<platform::PortIdentity>& present);
