#pragma once

namespace platform {

// True when the system reports a network connection: Windows asks
// InternetGetConnectedStateExW; Linux looks for an interface that is up, is
// not loopback and has an address.
bool HasNetworkConnection();

}  // namespace platform
