#include "platform/tcp_socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/clock.h"

namespace platform {

WakeEvent::WakeEvent() { m_handle = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

WakeEvent::~WakeEvent() {
    if (m_handle >= 0) close(static_cast<int>(m_handle));
}

void WakeEvent::Signal() {
    if (m_handle < 0) return;
    const uint64_t one = 1;
    ssize_t r = write(static_cast<int>(m_handle), &one, sizeof one);
    (void)r;
}

void WakeEvent::Reset() {
    if (m_handle < 0) return;
    uint64_t value = 0;
    ssize_t r = read(static_cast<int>(m_handle), &value, sizeof value);
    (void)r;
}

bool WakeEvent::Signalled() const { return Wait(0); }

bool WakeEvent::Wait(int ms) const {
    if (m_handle < 0) {
        SleepMs(ms);
        return false;
    }
    pollfd p{static_cast<int>(m_handle), POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, ms);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & POLLIN);
}

bool ParseIPv4(const char* text, uint32_t* addressNetworkOrder) {
    in_addr_t a = inet_addr(text);
    if (a == INADDR_NONE) return false;
    *addressNetworkOrder = a;
    return true;
}

namespace {

int Fd(NativeHandle h) { return static_cast<int>(h); }

}  // namespace

TcpSocket::TcpSocket() = default;

TcpSocket::~TcpSocket() { Close(); }

bool TcpSocket::Create() {
    Close();
    m_handle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return m_handle >= 0;
}

bool TcpSocket::SetNoDelay(bool on) {
    int value = on ? 1 : 0;
    return setsockopt(Fd(m_handle), IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0;
}

bool TcpSocket::NoDelay() const {
    int value = 0;
    socklen_t len = sizeof value;
    return getsockopt(Fd(m_handle), IPPROTO_TCP, TCP_NODELAY, &value, &len) == 0 && value != 0;
}

void TcpSocket::Adopt(NativeHandle handle) {
    Close();
    m_handle = handle;
}

bool TcpSocket::SetNonBlocking() {
    const int flags = fcntl(Fd(m_handle), F_GETFL, 0);
    return flags >= 0 && fcntl(Fd(m_handle), F_SETFL, flags | O_NONBLOCK) == 0;
}

void TcpSocket::Close() {
    if (m_handle >= 0) {
        close(Fd(m_handle));
        m_handle = -1;
    }
}

void TcpSocket::StartConnect(uint32_t addressNetworkOrder, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = addressNetworkOrder;
    sa.sin_port = htons(port);
    int r = connect(Fd(m_handle), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    (void)r;
}

TcpSocket::Wait TcpSocket::WaitReadable(int timeoutMs, const WakeEvent* wake) const {
    pollfd p[2] = {{Fd(m_handle), POLLIN, 0}, {wake ? Fd(wake->Handle()) : -1, POLLIN, 0}};
    const int64_t deadline = timeoutMs >= 0 ? MonotonicMs() + timeoutMs : 0;
    for (;;) {
        int left = -1;
        if (timeoutMs >= 0) left = static_cast<int>(std::max<int64_t>(0, deadline - MonotonicMs()));
        const int r = poll(p, wake && wake->Handle() >= 0 ? 2 : 1, left);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return Wait::Failed;
        if (r == 0) return Wait::TimedOut;
        if (p[1].revents & POLLIN) return Wait::Woken;
        if (p[0].revents & POLLNVAL) return Wait::Failed;
        return Wait::Ready;  // data, an orderly close, or an error a receive will report
    }
}

int TcpSocket::PendingError() const {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(Fd(m_handle), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
    return err;
}

bool TcpSocket::Connected() const {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    return getpeername(Fd(m_handle), reinterpret_cast<sockaddr*>(&peer), &len) == 0;
}

int TcpSocket::SendAll(const uint8_t* data, int length, int timeoutMs, const WakeEvent* wake) {
    int sent = 0;
    const int64_t deadline = MonotonicMs() + timeoutMs;
    while (sent < length) {
        const ssize_t n =
            send(Fd(m_handle), data + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int64_t left = deadline - MonotonicMs();
            if (left <= 0) break;
            pollfd p[2] = {{Fd(m_handle), POLLOUT, 0}, {wake ? Fd(wake->Handle()) : -1, POLLIN, 0}};
            const int r = poll(p, wake && wake->Handle() >= 0 ? 2 : 1, static_cast<int>(left));
            if (r < 0 && errno != EINTR) break;
            if (r > 0 && (p[1].revents & POLLIN)) break;
            if (r > 0 && (p[0].revents & (POLLERR | POLLHUP | POLLNVAL))) break;
            continue;
        }
        if (sent == 0) return -1;
        break;
    }
    return sent;
}

int TcpSocket::Receive(uint8_t* dst, int capacity) {
    for (;;) {
        const ssize_t n = recv(Fd(m_handle), dst, static_cast<size_t>(capacity), 0);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return -2;
        return -1;
    }
}

void TcpSocket::Shutdown() {
    if (Fd(m_handle) >= 0) shutdown(Fd(m_handle), SHUT_RDWR);
}

TcpListener::~TcpListener() { Close(); }

bool TcpListener::Bind(uint16_t port) {
    Close();
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    socklen_t len = sizeof sa;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        close(fd);
        return false;
    }
    m_handle = fd;
    m_port = ntohs(sa.sin_port);
    return true;
}

bool TcpListener::Listen(int backlog) {
    return m_handle >= 0 && listen(Fd(m_handle), backlog) == 0;
}

bool TcpListener::Accept(TcpSocket& out) {
    const int fd = accept4(Fd(m_handle), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return false;
    out.Adopt(fd);
    return true;
}

void TcpListener::Close() {
    if (m_handle >= 0) close(Fd(m_handle));
    m_handle = -1;
    m_port = 0;
}

int WaitAnyReadable(const std::vector<NativeHandle>& handles, int timeoutMs) {
    std::vector<pollfd> fds;
    for (NativeHandle h : handles) fds.push_back({Fd(h), POLLIN, 0});
    const int64_t deadline = timeoutMs >= 0 ? MonotonicMs() + timeoutMs : 0;
    for (;;) {
        int left = -1;
        if (timeoutMs >= 0) left = static_cast<int>(std::max<int64_t>(0, deadline - MonotonicMs()));
        const int r = poll(fds.data(), fds.size(), left);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -2;
        if (r == 0) return -1;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents != 0) return static_cast<int>(i);
        }
    }
}

}  // namespace platform
