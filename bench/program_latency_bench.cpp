// program_latency_bench: what the whole program adds on the terminal -> VAN
// path beyond the 100 ms quiet gap, measured from outside: the real program
// (headless) on a pseudo-terminal, a server on 127.0.0.1.
//   program_latency_bench [samples] [log|nolog] [program]
// (default 300 samples, logging off, the program of this build)
// Prints p50 / p90 / p99 of the added time, and the shortest time seen from
// just before the last byte was written to its arrival at the server (never
// below 100 ms).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/program_harness.h"
#include "tools/catsim/cat_simulator.h"

namespace {

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1,
                      static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

int Fail(const char* what) {
    std::fprintf(stderr, "program_latency_bench: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    const bool log = argc > 2 && std::strcmp(argv[2], "log") == 0;
    constexpr double kQuietGapMs = 100.0;

    auto cat = catsim::CatSimulator::CreatePty();
    bench::LoopbackServer van;
    if (!cat || !van.Listening()) return Fail("cannot make the pseudo-terminal or the server");
    const std::string binary = argc > 3 ? argv[3] : BRISKEN_BINARY;
    bench::Program program(
        binary, "brisken-latency",
        "[COMPORT]\nport=" + cat->DevicePath() +
            "\nspeed=115.2K\n[STATUSBOX]\nshow=show\n[COMMON]\nauto_run=Y\nlog=" +
            (log ? "Y" : "N") + "\n");
    if (!program.Start()) return Fail("cannot start the program");

    bool answered = false;
    for (int i = 0; i < 60 && !answered && program.Alive(); ++i) {
        answered = cat->SendLoneCr() && cat->ExpectBurst(catsim::kACK, 500);
    }
    if (!answered) return Fail("the program never answered the terminal");
    cat->ReadUntilQuiet(150, 3000);  // late ACKs, and the read after them runs out
    if (!cat->SendRequest("127.0.0.1", std::to_string(van.Port())) || !van.Accept(5000) ||
        !van.Send("G") || cat->ReadExactly(1, 3000) != "G") {
        return Fail("the session did not come up");
    }

    std::vector<double> added;
    double shortest = 1e9;
    for (int i = 0; i < samples; ++i) {
        const std::string msg = "T" + std::to_string(100000 + i);  // 7 bytes
        // The bytes went out between these two readings: the added time runs
        // from the second, and a buffer ended early is proven only against the
        // first (this process may lose the processor between write and clock).
        const int64_t before = bench::NowUs();
        if (!cat->Send(msg)) return Fail("terminal write failed");
        const int64_t t0 = bench::NowUs();
        const std::string got = van.Receive(msg.size(), 3000);
        if (got != msg) {
            std::fprintf(stderr, "sample %d: sent %s, arrived %s\n", i, catsim::Hex(msg).c_str(),
                         catsim::Hex(got).c_str());
            return Fail("a buffer did not arrive whole");
        }
        const int64_t arrived = bench::NowUs();
        const double ms = static_cast<double>(arrived - t0) / 1000.0;
        shortest = std::min(shortest, static_cast<double>(arrived - before) / 1000.0);
        added.push_back(ms - kQuietGapMs);
        // The server answers, as a VAN does; its silence would end the link by
        // the keep-alive after some 140 buffers.
        if (!van.Send("A") || cat->ReadExactly(1, 3000) != "A") return Fail("no answer came back");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the terminal's own pace
    }
    cat->SendRun(catsim::kESC);
    van.WaitClosed(3000);
    program.Stop();

    double load[3] = {0, 0, 0};
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3) load[0] = -1;
        std::fclose(f);
    }
    std::printf(
        "terminal -> VAN through the program (log %s), %zu samples, beyond the %.0f ms gap:\n",
        log ? "on" : "off", added.size(), kQuietGapMs);
    std::printf("  p50 %.3f ms, p90 %.3f ms, p99 %.3f ms, max %.3f ms\n", Percentile(added, 0.5),
                Percentile(added, 0.9), Percentile(added, 0.99), Percentile(added, 1.0));
    std::printf("  shortest write-to-arrival %.3f ms (%s)\n", shortest,
                shortest >= kQuietGapMs ? "never before the gap" : "ENDED BEFORE THE GAP");
    std::printf("  load average %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    return shortest >= kQuietGapMs ? 0 : 1;
}
