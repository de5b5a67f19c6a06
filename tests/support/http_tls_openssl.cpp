// The test server's TLS on OpenSSL: a blocking exchange on the accepted socket,
// bounded by socket time-outs.
#include <fcntl.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <csignal>
#include <stdexcept>

#include "tests/support/http_server.h"

class TestTlsContext {
public:
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> ctx{nullptr, &SSL_CTX_free};
};

namespace {

class TlsLink : public TestHttpLink {
public:
    explicit TlsLink(SSL* ssl) : m_ssl(ssl, &SSL_free) {}
    bool Pending() const override { return SSL_pending(m_ssl.get()) > 0; }
    int Read(uint8_t* dst, int capacity) override { return SSL_read(m_ssl.get(), dst, capacity); }
    bool WriteAll(const uint8_t* data, int length, const platform::WakeEvent&) override {
        int sent = 0;
        while (sent < length) {
            const int n = SSL_write(m_ssl.get(), data + sent, length - sent);
            if (n <= 0) return false;
            sent += n;
        }
        return true;
    }
    void End() override { SSL_shutdown(m_ssl.get()); }

private:
    std::unique_ptr<SSL, void (*)(SSL*)> m_ssl;
};

}  // namespace

std::shared_ptr<TestTlsContext> MakeTestTlsContext(const std::string& certFile,
                                                   const std::string& keyFile) {
    // A peer that leaves mid-answer must not end the test process: a TLS
    // write cannot say MSG_NOSIGNAL.
    std::signal(SIGPIPE, SIG_IGN);
    auto context = std::make_shared<TestTlsContext>();
    context->ctx.reset(SSL_CTX_new(TLS_server_method()));
    if (!context->ctx ||
        SSL_CTX_use_certificate_chain_file(context->ctx.get(), certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context->ctx.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
        throw std::runtime_error("TLS set-up failed for " + certFile);
    return context;
}

int TestTlsClientPort(TestTlsContext&, int listenPort) { return listenPort; }

std::unique_ptr<TestHttpLink> AcceptTestTls(TestTlsContext& context, platform::TcpSocket& client) {
    const int fd = static_cast<int>(client.Handle());
    // The handshake and the exchange block; a client that stalls is given up
    // after 10 s.
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    SSL* ssl = SSL_new(context.ctx.get());
    if (ssl == nullptr) return nullptr;
    auto link = std::make_unique<TlsLink>(ssl);
    if (SSL_set_fd(ssl, fd) != 1 || SSL_accept(ssl) != 1) return nullptr;
    return link;
}

TestCaTrust::TestCaTrust() : m_caFile(TlsTestFile("test-ca.pem")) {}

TestCaTrust::~TestCaTrust() = default;
