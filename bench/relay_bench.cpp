// relay_bench: what the relay itself adds, over a pseudo-terminal and a VAN
// server on 127.0.0.1.
//   relay_bench [sessions]      (default 1000)
// Prints medians and p99 of the added latency each way, the relay's idle CPU
// with the port open and with a link up, peak RSS, and RSS / descriptor counts
// before and after the sessions.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "platform/serial_device.h"
#include "platform/tcp_socket.h"
#include "relay/relay_session.h"
#include "relay/relay_state.h"
#include "relay/serial_comm.h"
#include "relay/socket_comm.h"
#include "tools/catsim/cat_simulator.h"
#include "tools/vansim/van_simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
    return v[i];
}

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long RssKb() {
    long pages = 0, resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE) / 1024;
}

int OpenFds() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n - 3;  // ".", ".." and the listing's own descriptor
}

double IdleCpuPercent(int seconds) {
    const double c0 = CpuSeconds();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 100.0 * (CpuSeconds() - c0) / (Ms(Clock::now() - t0) / 1000.0);
}

void PrintStats(const char* what, const std::vector<double>& v) {
    std::printf("%s, %zu samples: median %.3f ms, p99 %.3f ms\n", what, v.size(), Percentile(v, 0.5),
                Percentile(v, 0.99));
}

// What the pseudo-terminal and loopback TCP cost by themselves, without the
// relay: the same messages straight from the simulators to a plain reader.
void Baselines(catsim::CatSimulator& cat, VanSimulator& van, int samples) {
    std::vector<double> pty, tcp;
    platform::SerialDevice line;
    if (line.Open(cat.DevicePath())) {
        line.Configure({});
        uint8_t buf[64];
        for (int i = 0; i < samples; ++i) {
            const std::string msg = "T" + std::to_string(i);
            const auto t0 = Clock::now();
            cat.Send(msg);
            platform::SerialReadTiming whole{1000, 1000, 0};  // returns once the bytes are in
            if (line.Read(buf, static_cast<int>(msg.size()), whole) != static_cast<int>(msg.size())) break;
            pty.push_back(Ms(Clock::now() - t0));
        }
        line.Close();
    }
    platform::TcpSocket client;
    uint32_t loopback = 0;
    platform::ParseIPv4("127.0.0.1", &loopback);
    if (client.Create()) {
        client.StartConnect(loopback, van.Port());
        uint8_t buf[64];
        if (client.WaitReadable(2000, nullptr) == platform::TcpSocket::Wait::Ready &&
            client.Receive(buf, sizeof buf) > 0) {  // the greeting
            for (int i = 0; i < samples; ++i) {
                const std::string reply = "V" + std::to_string(i);
                const auto t0 = Clock::now();
                van.Send(reply);
                int got = 0;
                while (got < static_cast<int>(reply.size()) &&
                       client.WaitReadable(2000, nullptr) == platform::TcpSocket::Wait::Ready) {
                    const int n = client.Receive(buf + got, static_cast<int>(sizeof buf) - got);
                    if (n <= 0) break;
                    got += n;
                }
                tcp.push_back(Ms(Clock::now() - t0));
            }
        }
        client.Close();
        van.WaitClosed(1, 2000);
    }
    PrintStats("baseline: simulated terminal -> plain pty reader", pty);
    PrintStats("baseline: simulated VAN -> plain loopback TCP reader", tcp);
}

// A terminal message that leaves the gateway as two buffers (the terminal
// paused longer than the quiet gap inside it): how long the second buffer
// takes to reach the VAN, beyond the quiet gap. With Nagle on, the second
// send waits for the VAN's acknowledgement of the first, which a VAN may
// delay. The gateway turns Nagle off on its VAN link; for the comparison the
// bench turns it back on (nagle true) on the link the gateway made.
std::vector<double> TwoBufferLatency(catsim::CatSimulator& cat, VanSimulator& van, bool nagle,
                                     int samples, double quietGapMs) {
    {
        std::lock_guard lock(g_relay.vanMutex);
        if (g_relay.vanLink) g_relay.vanLink->Socket().SetNoDelay(!nagle);
    }
    std::vector<double> out;
    for (int i = 0; i < samples; ++i) {
        const std::string first = "A" + std::to_string(i);
        const std::string second = "B" + std::to_string(i);
        const size_t before = van.Received().size();
        cat.Send(first);
        std::this_thread::sleep_for(std::chrono::milliseconds(130));
        const auto t0 = Clock::now();
        cat.Send(second);
        if (!van.WaitReceived(before + first.size() + second.size(), 3000)) break;
        out.push_back(Ms(Clock::now() - t0) - quietGapMs);
    }
    return out;
}

bool Require(bool ok, const char* what) {
    if (!ok) std::fprintf(stderr, "relay_bench: %s\n", what);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const int sessions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    constexpr int kSamples = 200;
    constexpr double kQuietGapMs = 100.0;  // the terminal read ends 100 ms after the last byte

    g_logEnabled = false;
    VanSimulator::Options o;
    o.mode = VanSimulator::Mode::Scripted;  // never answers: the bench sends VAN data itself
    o.greeting = "G";
    VanSimulator van(o);
    auto cat = catsim::CatSimulator::CreatePty();
    if (!Require(cat && van.Start(), "cannot make the pseudo-terminal or the VAN server")) return 1;
    Baselines(*cat, van, kSamples);
    if (!Require(OpenSerialPort(cat->DevicePath(), "115200"), "cannot open the port")) return 1;
    RelayWorkers workers;
    workers.Start(nullptr);

    std::printf("idle CPU, port open, no link: %.3f %% of a core\n", IdleCpuPercent(5));

    const std::string port = std::to_string(van.Port());
    auto connect = [&] {
        const int accepted = van.Accepted();
        return cat->SendRequest("127.0.0.1", port) && van.WaitAccepted(accepted + 1, 3000) &&
               cat->ReadExactly(1, 3000) == "G";
    };
    if (!Require(connect(), "first session did not come up")) return 1;
    while (!g_relay.vanConnected.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    std::vector<double> toVan, toCat;
    for (int i = 0; i < kSamples; ++i) {
        const std::string msg = "T" + std::to_string(i);
        const size_t before = van.Received().size();
        const auto t0 = Clock::now();
        cat->Send(msg);
        if (!van.WaitReceived(before + msg.size(), 3000)) break;
        toVan.push_back(Ms(Clock::now() - t0) - kQuietGapMs);

        const std::string reply = "V" + std::to_string(i);
        const auto t1 = Clock::now();
        van.Send(reply);
        if (cat->ReadExactly(reply.size(), 3000) != reply) break;
        toCat.push_back(Ms(Clock::now() - t1));
    }
    PrintStats("through the relay: terminal -> VAN, minus the 100 ms quiet gap", toVan);
    PrintStats("through the relay: VAN -> terminal", toCat);
    // In one run, on the same link: Nagle on (as before), then off (as the gateway sets it).
    PrintStats("two-buffer message, second buffer -> VAN, Nagle on",
               TwoBufferLatency(*cat, van, true, 50, kQuietGapMs));
    PrintStats("two-buffer message, second buffer -> VAN, Nagle off",
               TwoBufferLatency(*cat, van, false, 50, kQuietGapMs));

    g_relay.keepAliveLimitMs = int64_t{1} << 40;
    std::printf("idle CPU, link up: %.3f %% of a core\n", IdleCpuPercent(5));
    cat->SendRun(catsim::kESC);
    while (g_relay.vanConnected.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    const long rss0 = RssKb();
    const int fds0 = OpenFds();
    int done = 0;
    for (; done < sessions; ++done) {
        if (!connect()) break;
        while (!g_relay.vanConnected.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        cat->SendRun(catsim::kESC);
        while (g_relay.vanConnected.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (done == 9) {  // after the first few, once buffers have settled
            std::printf("after 10 sessions: RSS %ld kB, open descriptors %d\n", RssKb(), OpenFds());
        }
    }
    std::printf("sessions: %d; RSS %ld kB -> %ld kB; open descriptors %d -> %d\n", done, rss0, RssKb(),
                fds0, OpenFds());
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("peak RSS: %ld kB\n", ru.ru_maxrss);

    StopRelayLinks(workers);
    van.Stop();
    return done == sessions ? 0 : 1;
}
