#pragma once
#include <cstdint>
#include <memory>
#include <vector>

// IPv4 TCP through the system's sockets (Windows: Winsock 2.2, started once per
// process on first use; Linux: POSIX sockets).
namespace platform {

// A socket or descriptor as the system names it; -1 is none.
using NativeHandle = intptr_t;

// A one-shot wake-up that any thread can signal and a waiter can wait on
// beside its own socket. Stays signalled until Reset.
class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;
    void Signal();
    void Reset();
    bool Signalled() const;
    // What a socket wait puts beside its socket (Windows: an event object;
    // Linux: an eventfd).
    NativeHandle Handle() const { return m_handle; }
    // Waits up to ms milliseconds for the signal; true when signalled.
    bool Wait(int ms) const;

private:
    NativeHandle m_handle = -1;
};

// Dotted-decimal IPv4 text to an address in network order, as inet_addr reads
// it; false for any other text.
bool ParseIPv4(const char* text, uint32_t* addressNetworkOrder);

// An IPv4 TCP socket, non-blocking once asked. Closed on destruction.
class TcpSocket {
public:
    TcpSocket();
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    bool Create();  // false when the sockets layer or a socket cannot be had
    bool SetNonBlocking();
    // Sends small buffers at once (Nagle off); false turns Nagle back on.
    bool SetNoDelay(bool on = true);
    // TCP_NODELAY as the system reports it now.
    bool NoDelay() const;
    bool Valid() const { return m_handle != -1; }
    void Close();

    // Starts a connection; the immediate result is not interesting.
    void StartConnect(uint32_t addressNetworkOrder, uint16_t port);

    enum class Wait { Ready, TimedOut, Failed, Woken };
    // Waits until the socket is readable (data, close, or an error - a refused
    // connect included), up to timeoutMs (negative: no limit), or until wake
    // is signalled, or until Shutdown is called.
    Wait WaitReadable(int timeoutMs, const WakeEvent* wake) const;
    // The pending error of a connect (0 when it succeeded).
    int PendingError() const;
    // True while the connection is established (a refused connect is not).
    bool Connected() const;

    // Sends all bytes, waiting up to timeoutMs in all for room when the queue is
    // full; returns the number of bytes sent (short when it gave up), -1 when
    // the first send failed outright.
    int SendAll(const uint8_t* data, int length, int timeoutMs, const WakeEvent* wake);
    // One receive: the count, 0 when the peer closed, -1 on error, -2 when
    // nothing was there after all.
    int Receive(uint8_t* dst, int capacity);
    // Ends both directions; wakes anybody waiting on the socket. Any thread.
    void Shutdown();

    NativeHandle Handle() const { return m_handle; }
    // Takes over an accepted socket (closing what this held).
    void Adopt(NativeHandle handle);

private:
    NativeHandle m_handle = -1;
    // Where shutting a socket down does not wake its waits (Winsock), Shutdown
    // signals this and every wait watches it; unused elsewhere.
    std::unique_ptr<WakeEvent> m_shutdownWake;
    // Windows: the event the socket's readiness is signalled on
    // (WSAEventSelect), made with the socket; unused elsewhere.
    NativeHandle m_readyEvent = -1;
    bool MakeReadyEvent();
};

// A listening socket on 127.0.0.1, for the simulators and test servers.
class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Binds 127.0.0.1:port (0: any free port); false when it cannot be had.
    bool Bind(uint16_t port);
    // Starts listening on the bound port.
    bool Listen(int backlog);
    uint16_t Port() const { return m_port; }
    NativeHandle Handle() const { return m_handle; }
    // Accepts one waiting connection into out; false when there is none.
    bool Accept(TcpSocket& out);
    void Close();

private:
    NativeHandle m_handle = -1;
    uint16_t m_port = 0;
};

// Waits up to timeoutMs (negative: no limit) until one of the handles
// (sockets, listeners, wake events) is readable or has an error. Returns the
// index of the first such handle, -1 when the time ran out, -2 on failure.
int WaitAnyReadable(const std::vector<NativeHandle>& handles, int timeoutMs);

}  // namespace platform
