#include "tests/support/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace {

int ListenLoopback(int* port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0) {
        close(fd);
        throw std::runtime_error("bind/listen failed");
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    *port = ntohs(addr.sin_port);
    return fd;
}

}  // namespace

TestHttpServer::TestHttpServer() : TestHttpServer(Tls{}) {}

TestHttpServer::TestHttpServer(const Tls& tls) {
    if (!tls.certFile.empty()) {
        // A peer that leaves mid-answer must not end the test process: a TLS
        // write cannot say MSG_NOSIGNAL.
        std::signal(SIGPIPE, SIG_IGN);
        m_tls = {SSL_CTX_new(TLS_server_method()), &SSL_CTX_free};
        if (!m_tls || SSL_CTX_use_certificate_chain_file(m_tls.get(), tls.certFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(m_tls.get(), tls.keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
            throw std::runtime_error("TLS set-up failed for " + tls.certFile);
    }
    m_listen = ListenLoopback(&m_port);
    if (pipe2(m_wake, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    m_thread = std::thread([this] { Run(); });
}

TestHttpServer::~TestHttpServer() {
    const char c = 'x';
    (void)!write(m_wake[1], &c, 1);
    m_thread.join();
    close(m_listen);
    close(m_wake[0]);
    close(m_wake[1]);
}

std::string TestHttpServer::host() const {
    return (m_tls ? "https://127.0.0.1:" : "127.0.0.1:") + std::to_string(m_port);
}

std::string TestHttpServer::Url(const std::string& path) const {
    return (m_tls ? "" : "http://") + host() + path;
}

void TestHttpServer::Set(const std::string& path, Reply reply) {
    std::lock_guard lock(m_mutex);
    m_replies[path] = std::move(reply);
}

TestHttpServer::Reply TestHttpServer::Answer(int status, const std::string& body,
                                             std::optional<size_t> contentLength) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + (status < 400 ? " OK" : " Error") +
                       "\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n";
    if (contentLength) head += "Content-Length: " + std::to_string(*contentLength) + "\r\n";
    return Reply{head + "\r\n" + body, 0};
}

std::vector<std::string> TestHttpServer::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void TestHttpServer::Run() {
    for (;;) {
        pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        if (m_tls)
            ServeTls(fd);
        else
            Serve(fd);
        close(fd);
    }
}

void TestHttpServer::Serve(int fd) { Exchange(fd, nullptr); }

void TestHttpServer::ServeTls(int fd) {
    // The handshake blocks; a client that never completes it is given up after 10 s.
    timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    std::unique_ptr<SSL, void (*)(SSL*)> ssl(SSL_new(m_tls.get()), &SSL_free);
    if (!ssl || SSL_set_fd(ssl.get(), fd) != 1 || SSL_accept(ssl.get()) != 1) return;
    Exchange(fd, ssl.get());
    // close_notify: an answer without a length ends cleanly, not as a cut.
    SSL_shutdown(ssl.get());
}

void TestHttpServer::Exchange(int fd, SSL* ssl) {
    // Read the request head (bounded: 10 s, 64 KiB).
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if ((ssl == nullptr || SSL_pending(ssl) == 0) &&
            (poll(fds, 2, 10000) <= 0 || fds[1].revents != 0))
            return;
        char buf[4096];
        const ssize_t n =
            ssl != nullptr ? SSL_read(ssl, buf, sizeof buf) : recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return;
        head.append(buf, static_cast<size_t>(n));
    }
    const size_t sp1 = head.find(' ');
    const size_t sp2 = head.find(' ', sp1 + 1);
    const std::string path = sp1 == std::string::npos ? "" : head.substr(sp1 + 1, sp2 - sp1 - 1);

    Reply reply = Answer(404, "not found", 9);
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(head);
        const auto it = m_replies.find(path);
        if (it != m_replies.end()) reply = it->second;
    }
    size_t sent = 0;
    while (sent < reply.raw.size()) {
        const size_t left = reply.raw.size() - sent;
        const ssize_t n = ssl != nullptr
                              ? SSL_write(ssl, reply.raw.data() + sent, static_cast<int>(left))
                              : send(fd, reply.raw.data() + sent, left, MSG_NOSIGNAL);
        if (n < 0 && ssl == nullptr && errno == EINTR) continue;
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
    if (reply.stallMs > 0) {
        pollfd wake = {m_wake[0], POLLIN, 0};
        poll(&wake, 1, reply.stallMs);
    }
}

int UnusedLoopbackPort() {
    int port = 0;
    const int fd = ListenLoopback(&port);
    close(fd);
    return port;
}

std::string TlsTestFile(const std::string& name) {
    return std::string(TALMIRA_TLS_TEST_DIR) + "/" + name;
}
