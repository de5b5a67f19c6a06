#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/tcp_socket.h"

// One accepted connection as the test server reads and writes it: plain TCP,
// or TLS over it.
class TestHttpLink {
public:
    virtual ~TestHttpLink() = default;
    // Bytes already decoded and waiting, which a socket wait would not see.
    virtual bool Pending() const { return false; }
    // One read: the count, 0 when the peer closed, negative on error, -2 when
    // nothing was there after all.
    virtual int Read(uint8_t* dst, int capacity) = 0;
    virtual bool WriteAll(const uint8_t* data, int length, const platform::WakeEvent& wake) = 0;
    // Ends the exchange cleanly (TLS: close_notify) before the socket is shut.
    virtual void End() {}
};

// The link of a plain accepted socket.
std::unique_ptr<TestHttpLink> PlainTestLink(platform::TcpSocket& client);

// The TLS side of the test server (a server certificate and key for
// 127.0.0.1). Linux speaks TLS on the accepted socket itself with libssl.
// The Windows test build has no TLS library of its own: a TLS front on the
// build machine (tests/support/windows/tls_front.sh, one per certificate,
// started by run-tests.sh) speaks it and hands each connection on as plain
// TCP, so one server per certificate at a time.
class TestTlsContext;
std::shared_ptr<TestTlsContext> MakeTestTlsContext(const std::string& certFile,
                                                   const std::string& keyFile);
// The port clients reach the server on, given the port it listens on.
int TestTlsClientPort(TestTlsContext& context, int listenPort);
// The handshake on an accepted socket (bounded: 10 s); null when it failed.
std::unique_ptr<TestHttpLink> AcceptTestTls(TestTlsContext& context, platform::TcpSocket& client);

// Trust in the test CA (tests/data/tls/test-ca.pem) for HTTPS requests, for
// the object's life. Linux hands the CA's file to each request (caFile());
// WinINet takes no file, so on Windows the CA goes into the machine's ROOT
// store of the test's own Wine prefix and out again, and caFile() is empty.
// Windows' chain engine may keep the trust it found at a process's first
// check (Wine's does), so a test that wants the CA untrusted checks that
// before it trusts it. Throws when the trust cannot be set up.
class TestCaTrust {
public:
    TestCaTrust();
    ~TestCaTrust();
    TestCaTrust(const TestCaTrust&) = delete;
    TestCaTrust& operator=(const TestCaTrust&) = delete;
    const std::string& caFile() const { return m_caFile; }

private:
    std::string m_caFile;
};

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
        std::string raw;  // status line, head and body, sent as they stand
        int stallMs = 0;  // then keep the connection open this long (or until the server stops)
    };

    TestHttpServer();
    // listenPort 0: a free port; otherwise that port (a program with its
    // server's port compiled in); throws when it is taken.
    explicit TestHttpServer(const Tls& tls, int listenPort = 0);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int port() const { return m_port; }  // the port clients connect to
    std::string host() const;            // "127.0.0.1:<port>", "https://127.0.0.1:<port>"
    std::string Url(const std::string& path) const;

    // What a path answers; unknown paths answer 404.
    void Set(const std::string& path, Reply reply);

    // An answer with the given status and body; contentLength nullopt sends
    // no Content-Length header (the body ends when the connection closes).
    static Reply Answer(int status, const std::string& body, std::optional<size_t> contentLength);
    static Reply Ok(const std::string& body) { return Answer(200, body, body.size()); }

    // Request heads received so far, in order.
    std::vector<std::string> Requests() const;

private:
    void Run();
    void Serve(platform::TcpSocket& client, TestHttpLink& link);

    platform::TcpListener m_listen;
    platform::WakeEvent m_wake;
    int m_port = 0;
    std::shared_ptr<TestTlsContext> m_tls;
    mutable std::mutex m_mutex;
    std::map<std::string, Reply> m_replies;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

// A port on 127.0.0.1 where nothing listens (refused connections).
int UnusedLoopbackPort();

// A file of tests/data/tls (test-only certificates and keys).
std::string TlsTestFile(const std::string& name);
