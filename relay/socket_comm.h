#pragma once
#include "platform/tcp_socket.h"

// The TCP link to the VAN. At most one object at a time, reached through
// g_relay.vanLink. The socket is non-blocking for its whole life; "no socket"
// is the state after creation or after a failed attempt.
class CSocketCommCls {
public:
    CSocketCommCls() = default;
    CSocketCommCls(const CSocketCommCls&) = delete;
    CSocketCommCls& operator=(const CSocketCommCls&) = delete;

    bool HasSocket() const { return m_socket.Valid(); }
    platform::TcpSocket& Socket() { return m_socket; }

private:
    platform::TcpSocket m_socket;
};
