#pragma once
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "relay/display.h"

// VAN link result codes.
inline constexpr int ERR_SEND_SHORT = -21;  // send wrote fewer bytes than asked, or failed
inline constexpr int ERR_NO_SOCKET = -26;   // no socket could be made, or none to send on
inline constexpr int ERR_CONNECT = -27;     // not made non-blocking, or no answer within 2 s

// One terminal pass and one VAN pass; called by the workers.
void RelayFromCAT();
void RelayFromVAN();

// The VAN link. ConnectToVAN runs on the terminal worker while no link is up;
// SendToVAN while one is; DisconnectVAN on any thread.
bool ConnectToVAN(const char* address, const char* port);
int SendToVAN(const uint8_t* buf, int length);
void DisconnectVAN();

// One run of the two workers: their run flags, and how many have not ended
// yet. Shared with the threads, so a worker let go by a stop still finds it.
struct RelayRun {
    std::atomic<bool> catWorkerRunning{false};
    std::atomic<bool> vanWorkerRunning{false};
    std::mutex mutex;
    std::condition_variable ended;
    int running = 0;
    // A port object left with a worker that was let go; that worker deletes
    // it when it ends.
    class CSerialCommCls* orphan = nullptr;
};

// The two relay workers and their run flags. Start and Stop run on the
// user-interface thread. Stop never waits for a blocked read or wait to end by
// itself: it clears the run flags, cancels the pending serial read, wakes the VAN
// wait and joins both threads, each for at most kJoinWaitMs; a worker caught in
// a driver for longer is let go (detached).
class RelayWorkers {
public:
    ~RelayWorkers();
    // Starts the terminal worker, then the VAN worker; owner becomes the main
    // display target when none is set.
    void Start(IDisplayTarget* owner);
    // True when both workers ended; false when one was let go, and then the
    // port object is taken from the relay and left to it (never used again).
    bool Stop();
    bool Started() const { return m_catThread.joinable() || m_vanThread.joinable(); }

    static constexpr int kJoinWaitMs = 1500;

private:
    std::shared_ptr<RelayRun> m_run;
    std::thread m_catThread;
    std::thread m_vanThread;
};

// The thread procedures; each returns 0 when its run flag is cleared.
int CATWorkerProc(const std::atomic<bool>& running, IDisplayTarget* owner);
int VANWorkerProc(const std::atomic<bool>& running, IDisplayTarget* owner);

// The relay's part of connection control, without the window's buttons:
// StopRelayLinks stops the workers, closes the port, tears down the VAN link,
// clears the progress line and refreshes the link line.
void StopRelayLinks(RelayWorkers& workers);
// Stops the workers, closes the port and drops the VAN link without touching the
// display or the terminal ("Socket Disconnect" is logged when a link existed).
void ShutdownRelay(RelayWorkers& workers);
