#pragma once
#include <functional>
#include <vector>

namespace platform {

// True when the system reports a network connection, within a few seconds at
// most. An adapter that is up, is not loopback and has an address counts as a
// network on every platform (Linux: getifaddrs; Windows: GetAdaptersAddresses,
// unicast addresses); Windows asks its own connection state
// (InternetGetConnectedStateExW) only when no adapter counts, and a state that
// does not answer in time counts as no network.
bool HasNetworkConnection();

// One network adapter as the rule above sees it.
struct AdapterFacts {
    bool up = false;
    bool loopback = false;
    bool hasAddress = false;
};

// Windows: the rule with its probes injected (tests). An empty probe is the
// real one.
struct NetworkProbes {
    std::function<bool()> connectedState;
    std::function<std::vector<AdapterFacts>()> adapters;
    int boundMs = 3000;  // how long the connection state may take
};
bool NetworkConnectionBy(const NetworkProbes& probes);

}  // namespace platform
