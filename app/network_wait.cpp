#include "app/network_wait.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/network.h"

bool WaitForNetwork(const NetworkWait& wait) {
    const auto up = [&wait] {
        return wait.networkUp ? wait.networkUp() : platform::HasNetworkConnection();
    };
    const auto now = [&wait] { return wait.nowMs ? wait.nowMs() : platform::MonotonicMs(); };
    if (up()) return true;
    const int64_t start = now();
    for (;;) {
        const int64_t left = wait.boundMs - (now() - start);
        if (left <= 0) return false;
        const int ms = static_cast<int>(std::min<int64_t>(std::max(wait.everyMs, 1), left));
        if (wait.sleep) {
            wait.sleep(ms);
        } else {
            platform::SleepMs(ms);
        }
        if (up()) return true;
    }
}
