#pragma once
#include <cstdint>

namespace platform {

// A one-shot wake-up that any thread can signal and a waiter can poll beside
// its own descriptor. Stays signalled until Reset.
class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;
    void Signal();
    void Reset();
    bool Signalled() const;
    int Fd() const { return m_fd; }
    // Waits up to ms milliseconds for the signal; true when signalled.
    bool Wait(int ms) const;

private:
    int m_fd = -1;
};

// Dotted-decimal IPv4 text to an address in network order, as inet_addr reads
// it; false for any other text.
bool ParseIPv4(const char* text, uint32_t* addressNetworkOrder);

// An IPv4 TCP socket, non-blocking once asked. Closed on destruction.
class TcpSocket {
public:
    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    bool Create();  // false when no socket can be made
    bool SetNonBlocking();
    bool Valid() const { return m_fd >= 0; }
    void Close();

    // Starts a connection; the immediate result is not interesting.
    void StartConnect(uint32_t addressNetworkOrder, uint16_t port);

    enum class Wait { Ready, TimedOut, Failed, Woken };
    // Waits until the socket is readable (data, close, or an error), up to
    // timeoutMs (negative: no limit), or until wake is signalled.
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
    // Ends both directions; wakes anybody waiting on the socket.
    void Shutdown();

private:
    int m_fd = -1;
};

}  // namespace platform
