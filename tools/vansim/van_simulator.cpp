#include "tools/vansim/van_simulator.h"

#include <chrono>

namespace {

constexpr int kSendTimeoutMs = 10000;

bool SendAllBlocking(platform::TcpSocket& socket, const std::string& bytes) {
    const int n = static_cast<int>(bytes.size());
    return socket.SendAll(reinterpret_cast<const uint8_t*>(bytes.data()), n, kSendTimeoutMs,
                          nullptr) == n;
}

}  // namespace

std::string LargeVanReply() {
    std::string s(2049, '\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(i * 7 + 3);
    return s;
}

VanSimulator::VanSimulator(Options options) : m_options(std::move(options)) {}

VanSimulator::~VanSimulator() { Stop(); }

bool VanSimulator::Start() {
    if (!m_listen.Bind(m_options.port) || !m_listen.Listen(4)) {
        m_listen.Close();
        return false;
    }
    m_port = m_listen.Port();
    m_thread = std::thread(&VanSimulator::Run, this);
    return true;
}

void VanSimulator::Stop() {
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.Signal();
        m_thread.join();
    }
    std::lock_guard lock(m_mutex);
    if (m_client) {
        m_client->Shutdown();
        m_client.reset();
    }
    m_listen.Close();
}

void VanSimulator::OnAccepted(std::unique_ptr<platform::TcpSocket> accepted) {
    accepted->SetNoDelay();
    std::shared_ptr<platform::TcpSocket> client(std::move(accepted));
    std::string greeting;
    {
        std::lock_guard lock(m_mutex);
        if (m_client) {  // one terminal session at a time: the old one ends
            m_client->Shutdown();
            ++m_closed;
        }
        m_client = client;
        m_replyIndex = 0;
        ++m_accepted;
        if (m_options.mode != Mode::Silent) greeting = m_options.greeting;
    }
    m_changed.notify_all();
    if (!greeting.empty()) SendAllBlocking(*client, greeting);
    if (m_options.mode == Mode::CloseAfterGreeting) DropClient();
}

void VanSimulator::DropClient() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_client) return;
        m_client->Shutdown();
        m_client.reset();
        ++m_closed;
    }
    m_changed.notify_all();
}

void VanSimulator::OnData(const char* data, size_t n) {
    std::string answer;
    std::shared_ptr<platform::TcpSocket> client;
    {
        std::lock_guard lock(m_mutex);
        m_received.append(data, n);
        client = m_client;
        if (m_options.mode == Mode::Echo) {
            answer.assign(data, n);
        } else if (m_options.mode == Mode::Scripted && m_replyIndex < m_options.replies.size()) {
            answer = m_options.replies[m_replyIndex++];
        }
    }
    m_changed.notify_all();
    if (!answer.empty() && client) SendAllBlocking(*client, answer);
}

void VanSimulator::Run() {
    std::vector<uint8_t> buf(65536);
    for (;;) {
        std::shared_ptr<platform::TcpSocket> client;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) return;
            client = m_client;
        }
        std::vector<platform::NativeHandle> handles = {m_wake.Handle(), m_listen.Handle()};
        if (client) handles.push_back(client->Handle());
        const int r = platform::WaitAnyReadable(handles, 1000);
        if (r == -2) return;
        if (r < 0) continue;
        if (r == 0) return;
        if (r == 1) {
            auto accepted = std::make_unique<platform::TcpSocket>();
            if (m_listen.Accept(*accepted)) OnAccepted(std::move(accepted));
            continue;
        }
        const int n = client->Receive(buf.data(), static_cast<int>(buf.size()));
        if (n > 0) {
            OnData(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));
        } else if (n == 0 || n == -1) {
            // Only the connection that ended is dropped, not a newer one.
            std::lock_guard lock(m_mutex);
            if (m_client != client) continue;
        }
        if (n == 0 || n == -1) DropClient();
    }
}

std::string VanSimulator::Received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

int VanSimulator::Accepted() const {
    std::lock_guard lock(m_mutex);
    return m_accepted;
}

int VanSimulator::Closed() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}

bool VanSimulator::WaitReceived(size_t n, int timeoutMs) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_received.size() >= n; });
}

bool VanSimulator::WaitAccepted(int n, int timeoutMs) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_accepted >= n; });
}

bool VanSimulator::WaitClosed(int n, int timeoutMs) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_closed >= n; });
}

bool VanSimulator::Send(const std::string& bytes) {
    std::shared_ptr<platform::TcpSocket> client;
    {
        std::lock_guard lock(m_mutex);
        client = m_client;
    }
    return client && SendAllBlocking(*client, bytes);
}

void VanSimulator::CloseClient() { DropClient(); }

uint16_t VanSimulator::RefusingPort() {
    // Bind a port and never listen on it: connects are refused while the
    // socket lives, and this process keeps it for good so nobody else takes it.
    static platform::TcpListener* bound = [] {
        auto* l = new platform::TcpListener;
        l->Bind(0);
        return l;
    }();
    return bound->Port();
}
