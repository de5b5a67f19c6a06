#pragma once
#include <openssl/ssl.h>

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A small HTTP server on 127.0.0.1 for the tests: each path (with its query)
// gets exactly the bytes set for it, so answers can lie about their length,
// end early, carry error statuses or stall. One connection at a time; every
// answer closes its connection. Given a certificate and key it speaks HTTPS.
class TestHttpServer {
public:
    struct Tls {
        std::string certFile;  // PEM certificate for 127.0.0.1 ("": plain HTTP)
        std::string keyFile;   // its PEM private key
    };
    struct Reply {
        std::string raw;       // status line, head and body, sent as they stand
        int stallMs = 0;       // then keep the connection open this long (or until the server stops)
    };

    TestHttpServer();
    explicit TestHttpServer(const Tls& tls);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int port() const { return m_port; }
    std::string host() const;  // "127.0.0.1:<port>", "https://127.0.0.1:<port>"
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
    void Serve(int fd);
    void ServeTls(int fd);
    void Exchange(int fd, SSL* ssl);

    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    int m_port = 0;
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> m_tls{nullptr, nullptr};
    mutable std::mutex m_mutex;
    std::map<std::string, Reply> m_replies;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

// A port on 127.0.0.1 where nothing listens (refused connections).
int UnusedLoopbackPort();

// A file of tests/data/tls: "test-ca.pem" (the CA only the tests trust),
// "server.pem"/"server-key.pem" (issued by it for 127.0.0.1) and
// "stranger.pem"/"stranger-key.pem" (self-signed, trusted by nobody).
std::string TlsTestFile(const std::string& name);
