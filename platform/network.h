#pragma once

namespace platform {

// True when some network interface is up, is not loopback and has an address.
bool HasNetworkConnection();

}  // namespace platform
