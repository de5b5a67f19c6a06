#include "relay/relay_session.h"

#include <cstring>
#include <memory>
#include <thread>

#include "log/traffic_log.h"
#include "relay/cat_request.h"
#include "relay/relay_internal.h"
#include "relay/relay_state.h"
#include "relay/serial_comm.h"
#include "relay/socket_comm.h"

namespace {

constexpr int kIdleSleepMs = 100;
constexpr int kMoreBytes = 2048;      // the continuation read after the first byte
constexpr int kAfterAck = 2049;       // the read that follows an ACK burst
constexpr int kBufferSize = 1 + 2048;
constexpr int kVanBufferSize = 2049;

// The run flag of the worker on this thread; a worker let go by a stop that
// comes back from the driver drops what it read rather than hand it to the
// next connection.
thread_local const std::atomic<bool>* t_running = nullptr;

bool WorkerStopped() { return t_running != nullptr && !t_running->load(); }

void LogBytes(TrafficKind kind, const uint8_t* data, int length) {
    if (RelayLogging()) WriteTrafficLog(kind, data, length);
}

// Called right after bytes were handed on. The send or write has woken
// whoever takes them next (the VAN side's reader, the terminal line's
// delivery), often onto this very processor; the texts and the trace that
// follow can wait, so that one gets the processor first.
void LetBytesOn() { std::this_thread::yield(); }

void RefuseRequest(const char* text) {
    SendCATControl(kESC);
    SetProgressText(text);
    SetTransferState(text, kErrorColour);
}

// A connection request (relay/cat_request.h); anything else was only logged.
void HandleRequest(const uint8_t* buf, int length) {
    const CATRequest request = ParseCATRequest(buf, length);
    if (request.kind == CATRequest::Kind::None) return;
    if (request.kind == CATRequest::Kind::Invalid) {
        RefuseRequest("Cat IP 정보 오류");
        return;
    }
    if (!ConnectToVAN(request.address, request.port)) {
        if (RelayStopEvent().Signalled()) return;  // stopped, not refused
        // Replaces the "Socket Error" texts the connect attempt wrote.
        SendCATControl(kESC);
        SetProgressText("서버 접속 오류");
        SetTransferState("서버 접속 오류", kErrorColour);
    }
}

void KeepAlive() {
    if (!g_relay.vanConnected.load()) {
        ResetKeepAlive();
        return;
    }
    if (KeepAliveElapsedMs() < g_relay.keepAliveLimitMs.load()) return;
    DisconnectVAN();
    SetTransferState("Socket Time-Out (KEEP ALIVE)", kErrorColour);
    SetProgressText("Socket Time-Out (KEEP ALIVE)");
}

}  // namespace

platform::WakeEvent& RelayStopEvent() {
    static platform::WakeEvent event;
    return event;
}

platform::WakeEvent& VanLinkUpEvent() {
    static platform::WakeEvent event;
    return event;
}

void RelayFromCAT() {
    UpdateLinkText();
    if (!g_relay.serialOpen.load()) return;
    SetProgressText("대기중...");

    uint8_t buf[kBufferSize];
    int length = ReadCAT(buf, 1);
    if (WorkerStopped()) return;
    if (length > 0) {
        const int more = ReadCAT(buf + 1, kMoreBytes);
        if (WorkerStopped()) return;
        if (more > 0) length += more;  // a failed continuation adds nothing

        // A buffer for a link that is up goes to the VAN before anything is
        // shown: the terminal waits on the VAN's answer, and the window can
        // take its time. The trace is written first, so that the VAN's answer
        // can never stand in it ahead of what it answers (the PC->VAN line
        // is written whether or not the send succeeds). Texts come in the
        // same order as ever.
        const CATSessionEnd end = CATSessionEndRule(buf, length);
        if (g_relay.vanConnected.load() && end == CATSessionEnd::None) {
            g_relay.catActive = true;
            LogBytes(TrafficKind::CatToPc, buf, length);
            LogBytes(TrafficKind::PcToVan, buf, length);
            const int sent = SendToVAN(buf, length);
            LetBytesOn();
            SetProgressText("CAT->PC");
            SetProgressText("PC->VAN");
            // A send cut short by a stop is left to the stop, which closes
            // the port first and so sends the terminal nothing.
            if (sent < 0 && !RelayStopEvent().Signalled()) DisconnectVAN();
            KeepAlive();
            return;
        }
        SetProgressText("CAT->PC");
        LogBytes(TrafficKind::CatToPc, buf, length);

        if (!g_relay.vanConnected.load()) {
            g_relay.catActive = false;
            bool request = true;
            if (buf[0] == kCR) {
                SendCATControl(kACK);
                SetProgressText("PC->CAT");
                std::memset(buf, 0, sizeof buf);
                length = ReadCAT(buf, kAfterAck);
                if (WorkerStopped()) return;
                SetProgressText("CAT->PC");
                LogBytes(TrafficKind::CatToPc, buf, length);
                request = length > 0;
            }
            if (request) HandleRequest(buf, length);
        } else {
            g_relay.catActive = true;
            if (end == CATSessionEnd::EscRun) {
                // The terminal ended the session itself: nothing to announce.
                g_relay.catActive = false;
                DisconnectVAN();
            } else {
                DisconnectVAN();  // a CR run; catActive still set: the terminal gets the ESC burst
            }
        }
    }
    KeepAlive();
}

// Returns true when bytes were relayed to the terminal.
static bool RelayFromVANPass() {
    std::shared_ptr<CSocketCommCls> link;
    {
        std::lock_guard lock(g_relay.vanMutex);
        if (!g_relay.vanConnected.load()) return false;
        link = g_relay.vanLink;
    }
    if (!link || !link->HasSocket()) return false;

    platform::TcpSocket& s = link->Socket();
    const auto waited = s.WaitReadable(-1, &RelayStopEvent());
    if (waited == platform::TcpSocket::Wait::Woken) return false;
    if (waited != platform::TcpSocket::Wait::Ready) {
        DisconnectVANIfCurrent(link);
        return false;
    }
    uint8_t buf[kVanBufferSize];
    const int n = s.Receive(buf, sizeof buf);
    if (n == -2 || WorkerStopped()) return false;  // woken for nothing, or stopped
    if (n <= 0) {
        DisconnectVANIfCurrent(link);  // the VAN closed, or the receive failed
        return false;
    }
    // Nothing but the trace stands between the receive and the write: the
    // texts follow the bytes, as on the way to the VAN, so that the window's
    // thread is not woken while the terminal's bytes are still to go.
    ResetKeepAlive();
    LogBytes(TrafficKind::VanToPc, buf, n);
    WriteCAT(buf, n);
    LetBytesOn();
    SetProgressText("VAN->PC");
    SetProgressText("PC->CAT");
    LogBytes(TrafficKind::PcToCat, buf, n);
    return true;
}

void RelayFromVAN() { RelayFromVANPass(); }

int CATWorkerProc(const std::atomic<bool>& running, IDisplayTarget* owner) {
    IDisplayTarget* none = nullptr;
    g_relay.mainWindow.compare_exchange_strong(none, owner);
    // Only the first failed try of a run of them is logged: an adapter left
    // unplugged for a week must not fill the disk.
    bool failureLogged = false;
    while (running.load()) {
        if (g_relay.serialOpen.load()) {
            RelayFromCAT();  // paced by the serial read time-outs
            if (!running.load()) break;  // a stop may have taken the port meanwhile
            if (SerialLineLost()) {
                DropLostSerialPort();
                failureLogged = false;
            }
        } else if (g_relay.serialLink.load() != nullptr) {
            // The port has gone, or was not there when the relay started.
            if (RelayStopEvent().Wait(g_relay.reopenMs.load()) || !running.load()) break;
            if (!RetrySerialPort(!failureLogged)) failureLogged = true;
        } else {
            RelayStopEvent().Wait(kIdleSleepMs);
        }
    }
    return 0;
}

int VANWorkerProc(const std::atomic<bool>& running, IDisplayTarget* owner) {
    IDisplayTarget* none = nullptr;
    g_relay.mainWindow.compare_exchange_strong(none, owner);
    while (running.load()) {
        // Straight back into the wait after a buffer, so data that follows at once
        // is not held back.
        if (g_relay.vanConnected.load()) {
            if (!RelayFromVANPass()) RelayStopEvent().Wait(kIdleSleepMs);
            continue;
        }
        // No link: sleep until one comes up or the workers stop. The event is
        // cleared before the flags are looked at, so a link that comes up in
        // between leaves it set. The bound is only a second line of defence.
        VanLinkUpEvent().Reset();
        if (!g_relay.vanConnected.load() && running.load())
            VanLinkUpEvent().Wait(g_relay.noLinkWaitMs.load());
    }
    return 0;
}

RelayWorkers::~RelayWorkers() { Stop(); }

namespace {

// Runs a worker procedure and counts it out of the run when it returns; the
// last one out deletes a port object left to it.
template <typename Proc>
std::thread StartWorker(const std::shared_ptr<RelayRun>& run, Proc proc,
                        std::atomic<bool> RelayRun::*flag, IDisplayTarget* owner) {
    return std::thread([run, proc, flag, owner] {
        t_running = &(*run.*flag);
        PinSerialLinkToThisThread();
        proc(*run.*flag, owner);
        CSerialCommCls* orphan = nullptr;
        {
            std::lock_guard lock(run->mutex);
            if (--run->running == 0) std::swap(orphan, run->orphan);
            run->ended.notify_all();
        }
        ReleaseSerialLink(orphan);
    });
}

}  // namespace

void RelayWorkers::Start(IDisplayTarget* owner) {
    Stop();
    RelayStopEvent().Reset();
    // The run flags are set before the threads start, so a Stop that follows at
    // once always finds them set and clears them.
    m_run = std::make_shared<RelayRun>();
    m_run->catWorkerRunning = true;
    m_run->vanWorkerRunning = true;
    m_run->running = 2;
    m_catThread = StartWorker(m_run, CATWorkerProc, &RelayRun::catWorkerRunning, owner);
    m_vanThread = StartWorker(m_run, VANWorkerProc, &RelayRun::vanWorkerRunning, owner);
}

bool RelayWorkers::Stop() {
    if (!m_run) return true;
    m_run->catWorkerRunning = false;
    m_run->vanWorkerRunning = false;
    if (!m_catThread.joinable() && !m_vanThread.joinable()) return true;
    // Wake every wait a worker may be in: the serial read, the VAN wait (which
    // has no time-out of its own), a connect or send wait, the idle sleeps.
    RelayStopEvent().Signal();
    VanLinkUpEvent().Signal();
    CancelCATRead();
    bool ended = false;
    {
        std::unique_lock lock(m_run->mutex);
        ended = m_run->ended.wait_for(lock, std::chrono::milliseconds(kJoinWaitMs),
                                      [this] { return m_run->running == 0; });
        if (!ended) {
            // Caught in a driver: the worker is let go with the port object,
            // which nothing else reaches from now on.
            g_relay.serialOpen.store(false);
            m_run->orphan = g_relay.serialLink.exchange(nullptr);
        }
    }
    for (std::thread* t : {&m_catThread, &m_vanThread}) {
        if (!t->joinable()) continue;
        if (ended) {
            t->join();
        } else {
            t->detach();
        }
    }
    m_run.reset();
    RelayStopEvent().Reset();
    return ended;
}

void StopRelayLinks(RelayWorkers& workers) {
    workers.Stop();
    CloseSerialPort();
    DisconnectVAN();
    SetProgressText("");
    UpdateLinkText();
}

void ShutdownRelay(RelayWorkers& workers) {
    workers.Stop();
    CloseSerialPort();
    std::shared_ptr<CSocketCommCls> link;
    {
        std::lock_guard lock(g_relay.vanMutex);
        g_relay.vanConnected = false;
        link = std::move(g_relay.vanLink);
        g_relay.vanLink.reset();
        if (link && link->HasSocket()) link->Socket().Shutdown();
    }
    if (link && RelayLogging()) WriteTrafficLog(TrafficKind::Event, "Socket Disconnect", 0);
}
