#pragma once
#include <functional>
#include <vector>

#include "platform/network.h"

// The Windows network rule (HasNetworkConnection), open to tests.
namespace platform {

// One network adapter as the rule (platform/network.h) sees it.
struct AdapterFacts {
    bool up = false;
    bool loopback = false;
    bool hasAddress = false;
};

// The rule with its probes injected (tests). An empty probe is the real one.
struct NetworkProbes {
    std::function<bool()> connectedState;
    std::function<std::vector<AdapterFacts>()> adapters;
    int boundMs = 3000;  // how long the connection state may take
};
bool NetworkConnectionBy(const NetworkProbes& probes);

}  // namespace platform
