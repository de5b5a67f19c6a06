#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <mutex>

#include "platform/clock.h"
#include "platform/tcp_socket.h"

namespace platform {

namespace {

// One WSAStartup for the whole process, on first use; Windows releases the
// layer when the process ends.
bool SocketsReady() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        WSADATA data{};
        ready = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return ready;
}

SOCKET S(NativeHandle h) { return static_cast<SOCKET>(h); }
NativeHandle H(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<NativeHandle>(s); }

timeval* Timeout(int ms, timeval& tv) {
    if (ms < 0) return nullptr;
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return &tv;
}

int LeftMs(int timeoutMs, int64_t deadline) {
    if (timeoutMs < 0) return -1;
    return static_cast<int>(std::max<int64_t>(0, deadline - MonotonicMs()));
}

void Add(fd_set& set, NativeHandle h) {
    if (h != -1) FD_SET(S(h), &set);
}

bool IsIn(const fd_set& set, NativeHandle h) {
    return h != -1 && FD_ISSET(S(h), const_cast<fd_set*>(&set));
}

}  // namespace

// The wake-up is a datagram socket on 127.0.0.1 connected to itself: Signal
// sends it one datagram, which keeps it readable until Reset drains it, and
// select can watch it beside any TCP socket.
WakeEvent::WakeEvent() {
    if (!SocketsReady()) return;
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof sa;
    u_long nonBlocking = 1;
    if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
        connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        closesocket(s);
        return;
    }
    m_handle = H(s);
}

WakeEvent::~WakeEvent() {
    if (m_handle != -1) closesocket(S(m_handle));
}

void WakeEvent::Signal() {
    if (m_handle == -1) return;
    const char one = 1;
    // A full queue is signalled already.
    send(S(m_handle), &one, 1, 0);
}

void WakeEvent::Reset() {
    if (m_handle == -1) return;
    char buf[64];
    while (recv(S(m_handle), buf, sizeof buf, 0) > 0) {
    }
}

bool WakeEvent::Signalled() const { return Wait(0); }

bool WakeEvent::Wait(int ms) const {
    if (m_handle == -1) {
        SleepMs(ms);
        return false;
    }
    fd_set read;
    FD_ZERO(&read);
    Add(read, m_handle);
    timeval tv{};
    return select(0, &read, nullptr, nullptr, Timeout(ms, tv)) > 0;
}

bool ParseIPv4(const char* text, uint32_t* addressNetworkOrder) {
    const unsigned long a = inet_addr(text);
    if (a == INADDR_NONE) return false;
    *addressNetworkOrder = static_cast<uint32_t>(a);
    return true;
}

TcpSocket::TcpSocket() = default;

TcpSocket::~TcpSocket() { Close(); }

bool TcpSocket::Create() {
    Close();
    if (!SocketsReady()) return false;
    // Shutting a socket down does not wake a select on it in every Winsock
    // (Wine's does not), so Shutdown has a wake-up of its own.
    if (!m_shutdownWake) m_shutdownWake = std::make_unique<WakeEvent>();
    m_shutdownWake->Reset();
    m_handle = H(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    return m_handle != -1;
}

bool TcpSocket::SetNonBlocking() {
    u_long one = 1;
    return ioctlsocket(S(m_handle), FIONBIO, &one) == 0;
}

bool TcpSocket::SetNoDelay() {
    BOOL one = TRUE;
    return setsockopt(S(m_handle), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                      sizeof one) == 0;
}

void TcpSocket::Adopt(NativeHandle handle) {
    Close();
    if (!m_shutdownWake) m_shutdownWake = std::make_unique<WakeEvent>();
    m_shutdownWake->Reset();
    m_handle = handle;
}

void TcpSocket::Close() {
    if (m_handle != -1) {
        closesocket(S(m_handle));
        m_handle = -1;
    }
}

void TcpSocket::StartConnect(uint32_t addressNetworkOrder, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = addressNetworkOrder;
    sa.sin_port = htons(port);
    connect(S(m_handle), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

TcpSocket::Wait TcpSocket::WaitReadable(int timeoutMs, const WakeEvent* wake) const {
    const NativeHandle wakeHandle = wake ? wake->Handle() : -1;
    const NativeHandle downHandle = m_shutdownWake ? m_shutdownWake->Handle() : -1;
    const int64_t deadline = timeoutMs >= 0 ? MonotonicMs() + timeoutMs : 0;
    fd_set read;
    fd_set error;
    FD_ZERO(&read);
    FD_ZERO(&error);
    Add(read, m_handle);
    Add(read, wakeHandle);
    Add(read, downHandle);
    // A refused or failed connect is reported in the error set, not as readable.
    Add(error, m_handle);
    timeval tv{};
    const int r = select(0, &read, nullptr, &error, Timeout(LeftMs(timeoutMs, deadline), tv));
    if (r == SOCKET_ERROR) return Wait::Failed;
    if (r == 0) return Wait::TimedOut;
    if (IsIn(read, wakeHandle)) return Wait::Woken;
    // Shut down: what a receive will report (nothing more comes).
    return Wait::Ready;
}

int TcpSocket::PendingError() const {
    int err = 0;
    int len = sizeof err;
    if (getsockopt(S(m_handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
        return WSAGetLastError();
    return err;
}

bool TcpSocket::Connected() const {
    sockaddr_in peer{};
    int len = sizeof peer;
    return getpeername(S(m_handle), reinterpret_cast<sockaddr*>(&peer), &len) == 0;
}

int TcpSocket::SendAll(const uint8_t* data, int length, int timeoutMs, const WakeEvent* wake) {
    int sent = 0;
    const int64_t deadline = MonotonicMs() + timeoutMs;
    const NativeHandle wakeHandle = wake ? wake->Handle() : -1;
    const NativeHandle downHandle = m_shutdownWake ? m_shutdownWake->Handle() : -1;
    while (sent < length) {
        const int n =
            send(S(m_handle), reinterpret_cast<const char*>(data + sent), length - sent, 0);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
            const int left = LeftMs(timeoutMs, deadline);
            if (left <= 0) break;
            fd_set write;
            fd_set read;
            fd_set error;
            FD_ZERO(&write);
            FD_ZERO(&read);
            FD_ZERO(&error);
            Add(write, m_handle);
            Add(error, m_handle);
            Add(read, wakeHandle);
            Add(read, downHandle);
            timeval tv{};
            const int r = select(0, &read, &write, &error, Timeout(left, tv));
            if (r == SOCKET_ERROR) break;
            if (IsIn(read, wakeHandle) || IsIn(read, downHandle) || IsIn(error, m_handle)) break;
            continue;
        }
        if (sent == 0) return -1;
        break;
    }
    return sent;
}

int TcpSocket::Receive(uint8_t* dst, int capacity) {
    const int n = recv(S(m_handle), reinterpret_cast<char*>(dst), capacity, 0);
    if (n >= 0) return n;
    return WSAGetLastError() == WSAEWOULDBLOCK ? -2 : -1;
}

void TcpSocket::Shutdown() {
    if (m_handle == -1) return;
    shutdown(S(m_handle), SD_BOTH);
    if (m_shutdownWake) m_shutdownWake->Signal();
}

TcpListener::~TcpListener() { Close(); }

bool TcpListener::Bind(uint16_t port) {
    Close();
    if (!SocketsReady()) return false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    // Nobody else may take the port while it is ours.
    BOOL one = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    int len = sizeof sa;
    if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        closesocket(s);
        return false;
    }
    m_handle = H(s);
    m_port = ntohs(sa.sin_port);
    return true;
}

bool TcpListener::Listen(int backlog) {
    return m_handle != -1 && listen(S(m_handle), backlog) == 0;
}

bool TcpListener::Accept(TcpSocket& out) {
    const SOCKET s = accept(S(m_handle), nullptr, nullptr);
    if (s == INVALID_SOCKET) return false;
    out.Adopt(H(s));
    return true;
}

void TcpListener::Close() {
    if (m_handle != -1) closesocket(S(m_handle));
    m_handle = -1;
    m_port = 0;
}

int WaitAnyReadable(const std::vector<NativeHandle>& handles, int timeoutMs) {
    fd_set read;
    fd_set error;
    FD_ZERO(&read);
    FD_ZERO(&error);
    for (NativeHandle h : handles) {
        Add(read, h);
        Add(error, h);
    }
    timeval tv{};
    const int r = select(0, &read, nullptr, &error, Timeout(timeoutMs, tv));
    if (r == SOCKET_ERROR) return -2;
    if (r == 0) return -1;
    for (size_t i = 0; i < handles.size(); ++i) {
        if (IsIn(read, handles[i]) || IsIn(error, handles[i])) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace platform
