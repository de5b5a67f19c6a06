#pragma once

namespace platform {

// True when the system reports a network connection, within a few seconds at
// most. An adapter that is up, is not loopback and has an address counts as a
// network on every platform (Linux: getifaddrs; Windows: GetAdaptersAddresses,
// unicast addresses); Windows asks its own connection state
// (InternetGetConnectedStateExW) only when no adapter counts, and a state that
// does not answer in time counts as no network.
bool HasNetworkConnection();

}  // namespace platform
