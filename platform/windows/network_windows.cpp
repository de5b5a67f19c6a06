// The sockets headers come first, the adapter list's after them.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>
#include <wininet.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/windows/network_windows.h"

namespace platform {

namespace {

std::vector<AdapterFacts> SystemAdapters() {
    std::vector<AdapterFacts> facts;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG bytes = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG r = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the calls; a few tries are enough.
    for (int tries = 0; tries < 4 && r == ERROR_BUFFER_OVERFLOW; ++tries) {
        buffer.assign(bytes, 0);
        r = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                 reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &bytes);
    }
    if (r != NO_ERROR) return facts;
    for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr;
         a = a->Next) {
        AdapterFacts f;
        f.up = a->OperStatus == IfOperStatusUp;
        f.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
        f.hasAddress = a->FirstUnicastAddress != nullptr;
        facts.push_back(f);
    }
    return facts;
}

bool SystemConnectedState() {
    DWORD flags = 0;
    return InternetGetConnectedStateExW(&flags, nullptr, 0, 0) != FALSE;
}

// Runs probe on a thread of its own and waits for it up to boundMs. A probe
// that has been seen to hang inside the system (WinINet's connection state)
// is left to finish on its own: it holds nothing of the caller's. While one
// is still out, the next check waits for that one instead of starting
// another, so a hanging call costs one thread, not one per check.
bool Bounded(const std::function<bool()>& probe, int boundMs) {
    struct Answer {
        std::mutex mutex;
        std::condition_variable done;
        bool ready = false;
        bool value = false;
    };
    static std::mutex outMutex;
    static std::shared_ptr<Answer> out;
    std::shared_ptr<Answer> answer;
    {
        std::lock_guard lock(outMutex);
        if (out) {
            std::lock_guard a(out->mutex);
            if (!out->ready) answer = out;
        }
        if (!answer) {
            answer = std::make_shared<Answer>();
            try {
                std::thread([answer, probe] {
                    const bool value = probe();
                    std::lock_guard lock(answer->mutex);
                    answer->value = value;
                    answer->ready = true;
                    answer->done.notify_all();
                }).detach();
            } catch (const std::system_error&) {
                return false;
            }
            out = answer;
        }
    }
    std::unique_lock lock(answer->mutex);
    answer->done.wait_for(lock, std::chrono::milliseconds(std::max(boundMs, 0)),
                          [&] { return answer->ready; });
    return answer->ready && answer->value;
}

}  // namespace

bool NetworkConnectionBy(const NetworkProbes& probes) {
    const auto adapters = probes.adapters ? probes.adapters() : SystemAdapters();
    // The rule every build uses; the connection state is asked only to
    // confirm that there is no network, since it has been seen to say "none"
    // on working networks (a VAN on a private line among them).
    if (std::any_of(adapters.begin(), adapters.end(),
                    [](const AdapterFacts& a) { return a.up && !a.loopback && a.hasAddress; }))
        return true;
    return Bounded(probes.connectedState ? probes.connectedState : SystemConnectedState,
                   probes.boundMs);
}

bool HasNetworkConnection() { return NetworkConnectionBy(NetworkProbes{}); }

}  // namespace platform
