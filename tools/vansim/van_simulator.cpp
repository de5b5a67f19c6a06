#include "tools/vansim/van_simulator.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool SendAllBlocking(int fd, const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
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
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0) return false;
    int one = 1;
    setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(m_options.port);
    if (bind(m_listenFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        listen(m_listenFd, 4) != 0) {
        close(m_listenFd);
        m_listenFd = -1;
        return false;
    }
    socklen_t len = sizeof sa;
    getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&sa), &len);
    m_port = ntohs(sa.sin_port);
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread(&VanSimulator::Run, this);
    return true;
}

void VanSimulator::Stop() {
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        const uint64_t one = 1;
        ssize_t r = write(m_wakeFd, &one, sizeof one);
        (void)r;
        m_thread.join();
    }
    std::lock_guard lock(m_mutex);
    if (m_clientFd >= 0) {
        close(m_clientFd);
        m_clientFd = -1;
    }
    if (m_listenFd >= 0) close(m_listenFd);
    if (m_wakeFd >= 0) close(m_wakeFd);
    m_listenFd = m_wakeFd = -1;
}

void VanSimulator::OnAccepted(int fd) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::string greeting;
    {
        std::lock_guard lock(m_mutex);
        if (m_clientFd >= 0) {  // one terminal session at a time: the old one ends
            close(m_clientFd);
            ++m_closed;
        }
        m_clientFd = fd;
        m_replyIndex = 0;
        ++m_accepted;
        if (m_options.mode != Mode::Silent) greeting = m_options.greeting;
    }
    m_changed.notify_all();
    if (!greeting.empty()) SendAllBlocking(fd, greeting);
    if (m_options.mode == Mode::CloseAfterGreeting) DropClient();
}

void VanSimulator::DropClient() {
    {
        std::lock_guard lock(m_mutex);
        if (m_clientFd < 0) return;
        close(m_clientFd);
        m_clientFd = -1;
        ++m_closed;
    }
    m_changed.notify_all();
}

void VanSimulator::OnData(const char* data, size_t n) {
    std::string answer;
    int fd;
    {
        std::lock_guard lock(m_mutex);
        m_received.append(data, n);
        fd = m_clientFd;
        if (m_options.mode == Mode::Echo) {
            answer.assign(data, n);
        } else if (m_options.mode == Mode::Scripted && m_replyIndex < m_options.replies.size()) {
            answer = m_options.replies[m_replyIndex++];
        }
    }
    m_changed.notify_all();
    if (!answer.empty() && fd >= 0) SendAllBlocking(fd, answer);
}

void VanSimulator::Run() {
    char buf[65536];
    for (;;) {
        int client;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) return;
            client = m_clientFd;
        }
        pollfd p[3] = {{m_wakeFd, POLLIN, 0}, {m_listenFd, POLLIN, 0}, {client, POLLIN, 0}};
        const int r = poll(p, client >= 0 ? 3 : 2, 1000);
        if (r < 0 && errno != EINTR) return;
        if (r <= 0) continue;
        if (p[0].revents) return;
        if (p[1].revents & POLLIN) {
            const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) OnAccepted(fd);
            continue;
        }
        if (client >= 0 && p[2].revents) {
            const ssize_t n = recv(client, buf, sizeof buf, 0);
            if (n > 0) {
                OnData(buf, static_cast<size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                DropClient();
            }
        }
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
    int fd;
    {
        std::lock_guard lock(m_mutex);
        fd = m_clientFd;
    }
    return fd >= 0 && SendAllBlocking(fd, bytes);
}

void VanSimulator::CloseClient() { DropClient(); }

uint16_t VanSimulator::RefusingPort() {
    // Bind a port and never listen on it: connects are refused while the
    // socket lives, and this process keeps it for good so nobody else takes it.
    static int fd = -1;
    static uint16_t port = 0;
    if (fd < 0) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = 0;
        bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        socklen_t len = sizeof sa;
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
        port = ntohs(sa.sin_port);
    }
    return port;
}
