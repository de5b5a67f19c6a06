#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/tcp_socket.h"

// A VAN server on 127.0.0.1 for tests, the demo and the benchmark. It accepts
// one connection at a time and answers by its mode; everything it receives is
// kept so a test can compare bytes.
class VanSimulator {
public:
    enum class Mode {
        Echo,                // send the greeting, then echo every buffer
        Scripted,            // send the greeting, then answer the k-th buffer with replies[k]
        Silent,              // accept and never send
        CloseAfterGreeting,  // send the greeting, then close
    };
    struct Options {
        Mode mode = Mode::Echo;
        std::string greeting = "HELLO";        // sent on accept (not in Silent mode)
        std::vector<std::string> replies;      // Scripted mode
        uint16_t port = 0;                     // 0: any free loopback port
    };

    explicit VanSimulator(Options options);
    ~VanSimulator();
    VanSimulator(const VanSimulator&) = delete;
    VanSimulator& operator=(const VanSimulator&) = delete;

    // Binds and listens on 127.0.0.1; false when the port cannot be had.
    bool Start();
    void Stop();
    uint16_t Port() const { return m_port; }

    // Bytes received over all connections so far, in order.
    std::string Received() const;
    int Accepted() const;
    int Closed() const;  // connections that ended (by either side)
    // Waits (bounded) until at least n bytes were received / n connections
    // accepted / n connections ended.
    bool WaitReceived(size_t n, int timeoutMs) const;
    bool WaitAccepted(int n, int timeoutMs) const;
    bool WaitClosed(int n, int timeoutMs) const;

    // Sends bytes on the current connection (false when there is none).
    bool Send(const std::string& bytes);
    // Closes the current connection from the server's side.
    void CloseClient();

    // A loopback port where nothing listens: connecting to it is refused.
    static uint16_t RefusingPort();

private:
    void Run();
    void OnAccepted(std::unique_ptr<platform::TcpSocket> client);
    void OnData(const char* data, size_t n);
    void DropClient();

    Options m_options;
    uint16_t m_port = 0;
    platform::TcpListener m_listen;
    platform::WakeEvent m_wake;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    // The current connection; senders hold their own reference, so a close
    // never pulls the socket from under a send.
    std::shared_ptr<platform::TcpSocket> m_client;
    size_t m_replyIndex = 0;
    std::string m_received;
    int m_accepted = 0;
    int m_closed = 0;
    bool m_stopping = false;
};

// A large (2049-byte) reply with every byte value in it.
std::string LargeVanReply();
