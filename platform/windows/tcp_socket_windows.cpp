#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <mutex>
#include <set>

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

// The wake-up is a kernel event (manual reset), so a wait on a socket and a
// stop together needs no helper socket: security suites on shop PCs may filter
// even loopback traffic. The events alive are known by handle, so that
// WaitAnyReadable can tell them from sockets.
std::mutex& WakeMutex() {
    static std::mutex m;
    return m;
}
std::set<NativeHandle>& WakeHandles() {
    static std::set<NativeHandle> handles;
    return handles;
}

bool IsWakeHandle(NativeHandle h) {
    std::lock_guard lock(WakeMutex());
    return WakeHandles().count(h) != 0;
}

// Whether the socket is readable or has failed (a refused connect) right now;
// select with no wait at all.
bool SocketAnswers(NativeHandle h) {
    fd_set read;
    fd_set error;
    FD_ZERO(&read);
    FD_ZERO(&error);
    Add(read, h);
    Add(error, h);
    timeval none{};
    return select(0, &read, nullptr, &error, &none) > 0;
}

HANDLE E(NativeHandle h) { return reinterpret_cast<HANDLE>(h); }

DWORD WaitMs(int ms) { return ms < 0 ? INFINITE : static_cast<DWORD>(ms); }

}  // namespace

WakeEvent::WakeEvent() {
    HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (e == nullptr) return;
    m_handle = reinterpret_cast<NativeHandle>(e);
    std::lock_guard lock(WakeMutex());
    WakeHandles().insert(m_handle);
}

WakeEvent::~WakeEvent() {
    if (m_handle == -1) return;
    {
        std::lock_guard lock(WakeMutex());
        WakeHandles().erase(m_handle);
    }
    CloseHandle(E(m_handle));
}

void WakeEvent::Signal() {
    if (m_handle != -1) SetEvent(E(m_handle));
}

void WakeEvent::Reset() {
    if (m_handle != -1) ResetEvent(E(m_handle));
}

bool WakeEvent::Signalled() const { return Wait(0); }

bool WakeEvent::Wait(int ms) const {
    if (m_handle == -1) {
        SleepMs(ms);
        return false;
    }
    return WaitForSingleObject(E(m_handle), WaitMs(ms)) == WAIT_OBJECT_0;
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
    return m_handle != -1 && MakeReadyEvent();
}

bool TcpSocket::SetNonBlocking() {
    u_long one = 1;
    return ioctlsocket(S(m_handle), FIONBIO, &one) == 0;
}

bool TcpSocket::SetNoDelay(bool on) {
    BOOL value = on ? TRUE : FALSE;
    return setsockopt(S(m_handle), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

bool TcpSocket::NoDelay() const {
    BOOL value = FALSE;
    int len = sizeof value;
    return getsockopt(S(m_handle), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&value),
                      &len) == 0 &&
           value != FALSE;
}

void TcpSocket::Adopt(NativeHandle handle) {
    Close();
    if (!m_shutdownWake) m_shutdownWake = std::make_unique<WakeEvent>();
    m_shutdownWake->Reset();
    m_handle = handle;
    MakeReadyEvent();
}

bool TcpSocket::MakeReadyEvent() {
    if (m_readyEvent == -1) {
        const WSAEVENT e = WSACreateEvent();
        if (e != WSA_INVALID_EVENT) m_readyEvent = reinterpret_cast<NativeHandle>(e);
    }
    return m_readyEvent != -1;
}

void TcpSocket::Close() {
    if (m_handle != -1) {
        closesocket(S(m_handle));
        m_handle = -1;
    }
    if (m_readyEvent != -1) {
        WSACloseEvent(E(m_readyEvent));
        m_readyEvent = -1;
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
    if (m_readyEvent == -1) return Wait::Failed;
    const HANDLE ready = E(m_readyEvent);
    const int64_t deadline = timeoutMs >= 0 ? MonotonicMs() + timeoutMs : 0;
    // The wait watches the socket through its event, beside the stop and the
    // shutdown events: kernel objects all, so no helper socket is needed.
    // Selecting the events again records a condition that holds already
    // (data waiting, a closed peer), so nothing is missed between waits.
    if (WSAEventSelect(S(m_handle), ready, FD_READ | FD_CLOSE | FD_CONNECT) != 0)
        return Wait::Failed;
    HANDLE waits[3];
    DWORD n = 0;
    const bool hasWake = wake != nullptr && wake->Handle() != -1;
    if (hasWake) waits[n++] = E(wake->Handle());
    if (m_shutdownWake && m_shutdownWake->Handle() != -1) waits[n++] = E(m_shutdownWake->Handle());
    const DWORD readyIndex = n;
    waits[n++] = ready;
    // The socket's notices are edge-like (one FD_READ until the next recv),
    // and not every Winsock records again what already holds when the events
    // are selected anew: the socket itself is asked at once and after each
    // slice of a second, so no notice missed can leave the wait hanging.
    constexpr int kSliceMs = 1000;
    for (;;) {
        if (SocketAnswers(m_handle)) return Wait::Ready;
        const int left = LeftMs(timeoutMs, deadline);
        if (timeoutMs >= 0 && left <= 0) return Wait::TimedOut;
        const int slice = left < 0 ? kSliceMs : std::min(left, kSliceMs);
        const DWORD r = WaitForMultipleObjects(n, waits, FALSE, static_cast<DWORD>(slice));
        if (r == WAIT_TIMEOUT) continue;
        if (r == WAIT_FAILED || r >= WAIT_OBJECT_0 + n) return Wait::Failed;
        const DWORD i = r - WAIT_OBJECT_0;
        if (hasWake && i == 0) return Wait::Woken;
        // Shut down: what a receive will report (nothing more comes).
        if (i != readyIndex) return Wait::Ready;
        WSANETWORKEVENTS events{};
        if (WSAEnumNetworkEvents(S(m_handle), ready, &events) != 0) return Wait::Failed;
        if ((events.lNetworkEvents & (FD_READ | FD_CLOSE)) != 0) return Wait::Ready;
        // A failed connect is an answer too; one that merely succeeded is not:
        // the link counts only once the server has said something.
        if ((events.lNetworkEvents & FD_CONNECT) != 0 && events.iErrorCode[FD_CONNECT_BIT] != 0)
            return Wait::Ready;
    }
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
    // Waiting for room is rare (a full send queue) and may run while another
    // thread waits for the socket's reads on its event, so it does not take
    // the event over: it watches the socket in short bounded slices and the
    // stop and shutdown events between them.
    constexpr int kSliceMs = 20;
    int sent = 0;
    const int64_t deadline = MonotonicMs() + timeoutMs;
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
            if ((wake != nullptr && wake->Signalled()) ||
                (m_shutdownWake && m_shutdownWake->Signalled()))
                break;
            fd_set write;
            fd_set error;
            FD_ZERO(&write);
            FD_ZERO(&error);
            Add(write, m_handle);
            Add(error, m_handle);
            timeval tv{};
            const int r = select(0, nullptr, &write, &error, Timeout(std::min(left, kSliceMs), tv));
            if (r == SOCKET_ERROR || IsIn(error, m_handle)) break;
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
    // Sockets are watched by select and wake events by their own wait, in
    // short slices so that neither waits on the other for long.
    constexpr int kSliceMs = 20;
    std::vector<bool> isWake(handles.size());
    for (size_t i = 0; i < handles.size(); ++i)
        isWake[i] = handles[i] != -1 && IsWakeHandle(handles[i]);
    const int64_t deadline = timeoutMs >= 0 ? MonotonicMs() + timeoutMs : 0;
    for (;;) {
        for (size_t i = 0; i < handles.size(); ++i) {
            if (isWake[i] && WaitForSingleObject(E(handles[i]), 0) == WAIT_OBJECT_0)
                return static_cast<int>(i);
        }
        fd_set read;
        fd_set error;
        FD_ZERO(&read);
        FD_ZERO(&error);
        bool anySocket = false;
        for (size_t i = 0; i < handles.size(); ++i) {
            if (isWake[i] || handles[i] == -1) continue;
            Add(read, handles[i]);
            Add(error, handles[i]);
            anySocket = true;
        }
        const int left = LeftMs(timeoutMs, deadline);
        const int slice = left < 0 ? kSliceMs : std::min(left, kSliceMs);
        if (anySocket) {
            timeval tv{};
            const int r = select(0, &read, nullptr, &error, Timeout(slice, tv));
            if (r == SOCKET_ERROR) return -2;
            for (size_t i = 0; r > 0 && i < handles.size(); ++i) {
                if (!isWake[i] && (IsIn(read, handles[i]) || IsIn(error, handles[i])))
                    return static_cast<int>(i);
            }
        } else {
            SleepMs(slice);
        }
        if (timeoutMs >= 0 && LeftMs(timeoutMs, deadline) <= 0) return -1;
    }
}

}  // namespace platform
