#include "bench/program_harness.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

extern char** environ;

namespace bench {

namespace fs = std::filesystem;

int64_t NowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

Program::Program(const std::string& binary, const std::string& name, const std::string& ini)
    : m_binary(binary), m_name(name) {
    char tmpl[] = "/tmp/talmira-bench-XXXXXX";
    if (mkdtemp(tmpl) != nullptr) m_home = tmpl;
    m_installDir = m_home + "/QAVEX";
    std::error_code ec;
    fs::create_directories(m_installDir, ec);
    fs::copy_file(m_binary, m_installDir + "/" + m_name, fs::copy_options::overwrite_existing, ec);
    fs::permissions(m_installDir + "/" + m_name, fs::perms::owner_all, ec);
    std::ofstream(m_installDir + "/" + m_name + ".ini") << ini;
}

Program::~Program() {
    Stop();
    std::error_code ec;
    if (!m_home.empty()) fs::remove_all(m_home, ec);
}

bool Program::Start() {
    std::vector<std::string> env = {"HOME=" + m_home,
                                    "XDG_CONFIG_HOME=" + m_home + "/.config",
                                    "XDG_DATA_HOME=" + m_home + "/.local/share",
                                    "XDG_CACHE_HOME=" + m_home + "/.cache",
                                    "XDG_RUNTIME_DIR=" + m_home,
                                    "QT_QPA_PLATFORM=offscreen"};
    const std::set<std::string> replaced = {
        "HOME",           "HOMEDRIVE",       "QT_QPA_PLATFORM", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
        "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "DISPLAY",         "WAYLAND_DISPLAY"};
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (replaced.count(entry.substr(0, entry.find('='))) == 0) env.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string exe = m_installDir + "/" + m_name;
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        if (chdir(m_installDir.c_str()) != 0) _exit(126);
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 1);
            dup2(null, 2);
        }
        char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
        execve(exe.c_str(), argv, envp.data());
        _exit(127);
    }
    m_pid = pid;
    return true;
}

bool Program::Alive() {
    if (m_pid <= 0) return false;
    int status = 0;
    return waitpid(m_pid, &status, WNOHANG) == 0;
}

namespace {

// Ends a child by its pid: asked first, killed when it has not gone within
// about 5 s. Its wait status.
int EndChild(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    kill(pid, SIGTERM);
    for (int i = 0; i < 500; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return status;
}

}  // namespace

int Program::Stop() {
    if (m_pid <= 0) return -1;
    const pid_t pid = m_pid;
    m_pid = -1;
    return EndChild(pid);
}

long Program::RssKb() const {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen(("/proc/" + std::to_string(m_pid) + "/statm").c_str(), "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE) / 1024;
}

int Program::OpenFds() const {
    int n = 0;
    if (DIR* d = opendir(("/proc/" + std::to_string(m_pid) + "/fd").c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] != '.') ++n;
        }
        closedir(d);
    }
    return n;
}

double Program::CpuSeconds() const { return bench::CpuSeconds(m_pid); }

double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = all.rfind(')');
    if (close == std::string::npos) return 0;
    // Fields after the name: state is field 3; utime and stime are 14 and 15.
    std::vector<std::string> fields;
    size_t pos = close + 2;
    while (pos < all.size()) {
        size_t end = all.find(' ', pos);
        if (end == std::string::npos) end = all.size();
        fields.push_back(all.substr(pos, end - pos));
        pos = end + 1;
    }
    if (fields.size() < 13) return 0;
    const double ticks = std::atof(fields[11].c_str()) + std::atof(fields[12].c_str());
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

namespace {

// The first number after key in a /proc status file, or 0.
long StatusField(const std::string& path, const std::string& key) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size());
    }
    return 0;
}

}  // namespace

long PeakRssKb(pid_t pid) {
    return StatusField("/proc/" + std::to_string(pid) + "/status", "VmHWM:");
}

long ContextSwitches(pid_t pid) {
    long n = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    for (const auto& task : fs::directory_iterator(tasks, ec)) {
        const std::string status = task.path().string() + "/status";
        n += StatusField(status, "voluntary_ctxt_switches:") +
             StatusField(status, "nonvoluntary_ctxt_switches:");
    }
    return n;
}

int64_t RunNs(pid_t pid) {
    int64_t sum = 0;
    bool any = false;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path().string() + "/schedstat");
        long long ns = 0;
        if (in >> ns) {
            sum += ns;
            any = true;
        }
    }
    return any ? sum : -1;
}

double LoadAverage1() {
    double load = -1;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = -1;
        std::fclose(f);
    }
    return load;
}

PlainRelay::PlainRelay(const std::string& device, uint16_t port) : m_device(device), m_port(port) {}

PlainRelay::~PlainRelay() { Stop(); }

bool PlainRelay::Start() {
    const std::string serial = "OPEN:" + m_device + ",rawer";
    const std::string tcp = "TCP4:127.0.0.1:" + std::to_string(m_port);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 1);
            // socat says on stderr why it cannot relay
        }
        const char* argv[] = {"socat", serial.c_str(), tcp.c_str(), nullptr};
        execvp("socat", const_cast<char* const*>(argv));
        _exit(127);
    }
    m_pid = pid;
    return true;
}

void PlainRelay::Stop() {
    if (m_pid <= 0) return;
    const pid_t pid = m_pid;
    m_pid = -1;
    EndChild(pid);
}

LoopbackServer::LoopbackServer() {
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0) return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(m_listen, 4) != 0 ||
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(m_listen);
        m_listen = -1;
        return;
    }
    m_port = ntohs(a.sin_port);
}

LoopbackServer::~LoopbackServer() {
    Close();
    if (m_listen >= 0) ::close(m_listen);
}

bool LoopbackServer::Accept(int ms) {
    Close();
    pollfd p{m_listen, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return false;
    m_conn = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (m_conn >= 0) {
        const int one = 1;
        setsockopt(m_conn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return m_conn >= 0;
}

bool LoopbackServer::Send(const std::string& bytes) {
    size_t done = 0;
    while (m_conn >= 0 && done < bytes.size()) {
        const ssize_t n = ::send(m_conn, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return done == bytes.size();
}

std::string LoopbackServer::Receive(size_t n, int ms, bool* closed) {
    std::string got;
    if (closed) *closed = false;
    const int64_t deadline = NowUs() + int64_t{ms} * 1000;
    char buf[4096];
    while (m_conn >= 0 && got.size() < n) {
        const int64_t left = (deadline - NowUs() + 999) / 1000;
        if (left <= 0) break;
        pollfd p{m_conn, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        const ssize_t r = ::recv(m_conn, buf, std::min(sizeof buf, n - got.size()), 0);
        if (r <= 0) {
            if (closed) *closed = true;
            break;
        }
        got.append(buf, static_cast<size_t>(r));
    }
    return got;
}

bool LoopbackServer::WaitClosed(int ms, std::string* extra) {
    bool closed = false;
    const std::string rest = Receive(1 << 20, ms, &closed);
    if (extra) *extra = rest;
    return closed;
}

void LoopbackServer::Close() {
    if (m_conn >= 0) ::close(m_conn);
    m_conn = -1;
}

}  // namespace bench
