#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/clock.h"
#include "relay/display.h"

class CSerialCommCls;
class CSocketCommCls;

// Terminal framing bytes.
inline constexpr uint8_t kSOH = 0x01;
inline constexpr uint8_t kFS = 0x1C;
inline constexpr uint8_t kETB = 0x17;
inline constexpr uint8_t kCR = 0x0D;
inline constexpr uint8_t kACK = 0x06;
inline constexpr uint8_t kESC = 0x1B;

// The one process-wide relay record, shared by the user-interface thread and
// both workers. Flags are atomics; vanLink is guarded by vanMutex.
struct RelayState {
    std::atomic<bool> serialOpen{false};
    std::atomic<bool> vanConnected{false};
    std::atomic<bool> catActive{false};

    std::atomic<IDisplayTarget*> mainWindow{nullptr};
    std::atomic<IDisplayTarget*> statusWindow{nullptr};

    // Opened and closed by the user-interface thread only while no worker runs;
    // the workers use it in between.
    std::atomic<CSerialCommCls*> serialLink{nullptr};

    // The VAN link. A worker copies the pointer under the mutex and then waits or
    // receives on its copy, so the socket stays valid until the last user lets
    // go; DisconnectVAN shuts the socket down under the mutex, which wakes a wait.
    std::mutex vanMutex;
    std::shared_ptr<CSocketCommCls> vanLink;

    // Keep-alive: a link that has had no VAN data for keepAliveLimitMs (72 s)
    // is ended. It counts elapsed time on keepAliveClock (monotonic ms), never
    // terminal passes, so no fast loop can end a live link early. Tests
    // shorten the limit or move a clock of their own.
    std::atomic<int64_t> lastVanDataMs{0};
    std::atomic<int64_t> keepAliveLimitMs{72000};
    std::atomic<int64_t (*)()> keepAliveClock{&platform::MonotonicMs};

    // How often the terminal worker tries a port that has gone (ms). Tests
    // shorten it.
    std::atomic<int32_t> reopenMs{2000};

    // The longest the VAN worker sleeps without a link before it looks again
    // (ms); a link coming up and the stop wake it at once. Tests lengthen it.
    std::atomic<int32_t> noLinkWaitMs{1000};
};

extern RelayState g_relay;

// Starts the keep-alive's count afresh: VAN data came, or no link is up. Any thread.
void ResetKeepAlive();
// Milliseconds since the last reset.
int64_t KeepAliveElapsedMs();

// Reads g_logEnabled (the log setting); the relay logs only while it is on.
bool RelayLogging();
