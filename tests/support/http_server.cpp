#include "tests/support/http_server.h"

#include <stdexcept>

namespace {

void ListenLoopback(platform::TcpListener& listener, int* port, int wanted) {
    if (!listener.Bind(wanted) || !listener.Listen(16)) throw std::runtime_error("bind/listen failed");
    *port = listener.Port();
}

class PlainLink : public TestHttpLink {
public:
    explicit PlainLink(platform::TcpSocket& socket) : m_socket(socket) {}
    int Read(uint8_t* dst, int capacity) override { return m_socket.Receive(dst, capacity); }
    bool WriteAll(const uint8_t* data, int length, const platform::WakeEvent& wake) override {
        return m_socket.SendAll(data, length, 10000, &wake) == length;
    }

private:
    platform::TcpSocket& m_socket;
};

}  // namespace

TestHttpServer::TestHttpServer() : TestHttpServer(Tls{}) {}

TestHttpServer::TestHttpServer(const Tls& tls, int listenPort) {
    if (!tls.certFile.empty()) m_tls = MakeTestTlsContext(tls.certFile, tls.keyFile);
    ListenLoopback(m_listen, &m_port, listenPort);
    if (m_tls) m_port = TestTlsClientPort(*m_tls, m_port);
    m_thread = std::thread([this] { Run(); });
}

TestHttpServer::~TestHttpServer() {
    m_wake.Signal();
    m_thread.join();
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
        const int ready = platform::WaitAnyReadable({m_listen.Handle(), m_wake.Handle()}, -1);
        if (ready != 0) return;
        platform::TcpSocket client;
        if (!m_listen.Accept(client)) continue;
        if (m_tls) {
            const std::unique_ptr<TestHttpLink> link = AcceptTestTls(*m_tls, client);
            if (link) Serve(client, *link);
        } else {
            PlainLink link(client);
            Serve(client, link);
        }
    }
}

void TestHttpServer::Serve(platform::TcpSocket& client, TestHttpLink& link) {
    // Read the request head (bounded: 10 s, 64 KiB).
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        if (!link.Pending() &&
            platform::WaitAnyReadable({client.Handle(), m_wake.Handle()}, 10000) != 0)
            return;
        uint8_t buf[4096];
        const int n = link.Read(buf, sizeof buf);
        if (n == -2) continue;
        if (n <= 0) return;
        head.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
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
    const auto* bytes = reinterpret_cast<const uint8_t*>(reply.raw.data());
    if (!link.WriteAll(bytes, static_cast<int>(reply.raw.size()), m_wake)) return;
    if (reply.stallMs > 0) m_wake.Wait(reply.stallMs);
    // The answer ends with the connection: everything sent reaches the client
    // before the close (an answer without a length then ends cleanly, not as a cut).
    link.End();
    client.Shutdown();
}

std::unique_ptr<TestHttpLink> PlainTestLink(platform::TcpSocket& client) {
    return std::make_unique<PlainLink>(client);
}

int UnusedLoopbackPort() {
    platform::TcpListener listener;
    if (!listener.Bind(0)) throw std::runtime_error("bind failed");
    return listener.Port();
}

std::string TlsTestFile(const std::string& name) {
    return std::string(TALMIRA_TLS_TEST_DIR) + "/" + name;
}
