#include "relay/socket_comm.h"

#include <cstdio>
#include <memory>

#include "log/traffic_log.h"
#include "relay/cat_request.h"
#include "relay/relay_internal.h"
#include "relay/relay_session.h"
#include "relay/relay_state.h"
#include "relay/serial_comm.h"

namespace {

constexpr int kConnectWaitMs = 2000;
// A full send queue may take this long to drain before a send counts as failed.
constexpr int kSendRoomWaitMs = 2000;

void LogEvent(const char* text) {
    if (RelayLogging()) WriteTrafficLog(TrafficKind::Event, text, 0);
}

// Tears down the link; `expected` null means whatever link is there.
void Disconnect(const CSocketCommCls* expected) {
    std::shared_ptr<CSocketCommCls> link;
    {
        std::lock_guard lock(g_relay.vanMutex);
        if (expected != nullptr && g_relay.vanLink.get() != expected) return;
        // Cleared before the socket goes, so a worker that wakes from its wait
        // sees the link down and does not tear it down a second time.
        g_relay.vanConnected = false;
        link = std::move(g_relay.vanLink);
        g_relay.vanLink.reset();
        // Ends both directions: a worker waiting or receiving on its own copy
        // wakes at once; the descriptor closes when the last copy is released.
        if (link && link->HasSocket()) link->Socket().Shutdown();
    }
    if (link) {
        SetProgressText("");
        LogEvent("Socket Disconnect");
        if (g_relay.catActive.load()) SendCATControl(kESC);
    }
    g_relay.catActive = false;
}

}  // namespace

bool ConnectToVAN(const char* address, const char* port) {
    std::shared_ptr<CSocketCommCls> link;
    int code = 0;
    {
        std::lock_guard lock(g_relay.vanMutex);
        if (!g_relay.vanLink) g_relay.vanLink = std::make_shared<CSocketCommCls>();
        link = g_relay.vanLink;
    }
    const uint16_t portNumber = VANPortNumber(port);

    if (RelayLogging()) {
        char text[128];
        std::snprintf(text, sizeof text, "ConnectToVAN %s(%s)", address, port);
        WriteTrafficLog(TrafficKind::Event, text, 0);
    }

    uint32_t ip = 0;
    const bool addressOk = platform::ParseIPv4(address, &ip);
    {
        std::lock_guard lock(g_relay.vanMutex);
        platform::TcpSocket& s = link->Socket();
        if (!s.Create()) {
            code = ERR_NO_SOCKET;
        } else if (!s.SetNonBlocking()) {
            s.Close();
            code = ERR_CONNECT;
        } else if (addressOk) {
            s.StartConnect(ip, portNumber);
        }
    }

    if (code == 0) {
        // Up only when the server has sent something (or closed) within 2 s; a
        // refused connect also wakes the wait, so its error state decides.
        platform::TcpSocket& s = link->Socket();
        const auto waited = addressOk ? s.WaitReadable(kConnectWaitMs, &RelayStopEvent())
                                      : platform::TcpSocket::Wait::Failed;
        const bool up =
            waited == platform::TcpSocket::Wait::Ready && s.PendingError() == 0 && s.Connected();
        if (!up) {
            std::lock_guard lock(g_relay.vanMutex);
            s.Close();
            code = ERR_CONNECT;
        }
        if (waited == platform::TcpSocket::Wait::Woken) {
            // The relay is being stopped: no server failed, so nothing is shown.
            g_relay.vanConnected = false;
            return false;
        }
    }

    if (code == 0) {
        {
            std::lock_guard lock(g_relay.vanMutex);
            // A stop may have taken the link away while we waited.
            if (g_relay.vanLink == link) {
                // Every buffer leaves at once: with Nagle on, a terminal
                // message that goes as two buffers would wait for the VAN's
                // delayed acknowledgement.
                link->Socket().SetNoDelay();
                // A new link starts with a fresh keep-alive count, even when the
                // last one ended by its keep-alive in the pass just before.
                ResetKeepAlive();
                g_relay.vanConnected = true;
                VanLinkUpEvent().Signal();
            }
        }
        if (g_relay.vanConnected.load()) {
            SetProgressText("");
            SetTransferState("", kNormalColour);
            LogEvent("Socket Connected");
            return true;
        }
        code = ERR_CONNECT;
    }

    g_relay.vanConnected = false;
    SetProgressText("Socket Error");
    SetTransferState("Socket Error", kErrorColour);
    if (RelayLogging()) {
        char text[64];
        std::snprintf(text, sizeof text, "Socket Error (%d) (ConnectToVAN)", code);
        WriteTrafficLog(TrafficKind::Event, text, 0);
    }
    return false;
}

int SendToVAN(const uint8_t* buf, int length) {
    std::shared_ptr<CSocketCommCls> link;
    {
        std::lock_guard lock(g_relay.vanMutex);
        link = g_relay.vanLink;
    }
    if (!link || !link->HasSocket()) return ERR_NO_SOCKET;
    const int sent = link->Socket().SendAll(buf, length, kSendRoomWaitMs, &RelayStopEvent());
    return sent < length ? ERR_SEND_SHORT : sent;
}

void DisconnectVAN() { Disconnect(nullptr); }

void DisconnectVANIfCurrent(const std::shared_ptr<CSocketCommCls>& expected) {
    if (expected) Disconnect(expected.get());
}
