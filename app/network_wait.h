#pragma once
#include <cstdint>
#include <functional>

// The start-up network check, patient with a network that comes up a few
// seconds after login (DHCP, Wi-Fi). Every member left empty means the real
// thing; tests pass their own probe, clock and sleep.
struct NetworkWait {
    std::function<bool()> networkUp;    // empty: platform::HasNetworkConnection
    int boundMs = 60000;                // how long a late network is waited for
    int everyMs = 1000;                 // one check per this many milliseconds
    std::function<int64_t()> nowMs;     // monotonic; empty: platform::MonotonicMs
    std::function<void(int ms)> sleep;  // empty: platform::SleepMs
};

// True as soon as the network is up: at once, without sleeping, when it already
// is; otherwise after checking once every everyMs (sleeping in between) until
// it is. False when it has not come within boundMs. Blocks the calling thread.
bool WaitForNetwork(const NetworkWait& wait);
