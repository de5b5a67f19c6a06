#pragma once
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/tcp_socket.h"

// A small HTTP server on 127.0.0.1 for the tests: each path (with its query)
// gets exactly the bytes set for it, so answers can lie about their length,
// end early, carry error statuses or stall. One connection at a time; every
// answer closes its connection.
class TestHttpServer {
public:
    struct Reply {
        std::string raw;       // status line, head and body, sent as they stand
        int stallMs = 0;       // then keep the connection open this long (or until the server stops)
    };

    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int port() const { return m_port; }
    std::string host() const;                    // "127.0.0.1:<port>"
    std::string Url(const std::string& path) const;

    // What a path answers; unknown paths answer 404.
    void Set(const std::string& path, Reply reply);

    // An answer with the given status and body; contentLength nullopt sends
    // no Content-Length header (the body ends when the connection closes).
    static Reply Answer(int status, const std::string& body,
                        std::optional<size_t> contentLength);
    static Reply Ok(const std::string& body) { return Answer(200, body, body.size()); }

    // Request heads received so far, in order.
    std::vector<std::string> Requests() const;

private:
    void Run();
    void Serve(platform::TcpSocket& client);

    platform::TcpListener m_listen;
    platform::WakeEvent m_wake;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::map<std::string, Reply> m_replies;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

// A port on 127.0.0.1 where nothing listens (refused connections).
int UnusedLoopbackPort();
