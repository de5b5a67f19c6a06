#pragma once
#include <atomic>
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

// The two relay workers and their run flags. Start and Stop run on the
// user-interface thread. Stop never waits for a blocked read or wait to end by
// itself: it clears the run flags, cancels the pending serial read, wakes the VAN
// wait and joins both threads.
class RelayWorkers {
public:
    ~RelayWorkers();
    // Starts the terminal worker, then the VAN worker; owner becomes the main
    // display target when none is set.
    void Start(IDisplayTarget* owner);
    void Stop();
    bool Started() const { return m_catThread.joinable() || m_vanThread.joinable(); }

    std::atomic<bool> catWorkerRunning{false};
    std::atomic<bool> vanWorkerRunning{false};

private:
    std::thread m_catThread;
    std::thread m_vanThread;
};

// The thread procedures; each returns 0 when its run flag is cleared.
int CATWorkerProc(RelayWorkers* workers, IDisplayTarget* owner);
int VANWorkerProc(RelayWorkers* workers, IDisplayTarget* owner);

// The relay's part of connection control, without the window's buttons:
// StopRelayLinks stops the workers, closes the port, tears down the VAN link,
// clears the progress line and refreshes the link line.
void StopRelayLinks(RelayWorkers& workers);
// Stops the workers, closes the port and drops the VAN link without touching the
// display or the terminal ("Socket Disconnect" is logged when a link existed).
void ShutdownRelay(RelayWorkers& workers);
