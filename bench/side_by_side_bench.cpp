// side_by_side_bench: the program's own cost on both paths, beside a plain
// relay. The real program (headless) relays a pseudo-terminal to a server on
// 127.0.0.1; socat relays the same kind of pseudo-terminal to the same kind of
// server. Each round runs every subject once, in turn (the order rotates), so
// that what the machine is doing falls on all of them alike.
//   side_by_side_bench [--rounds N] [--samples N] [--size N] [--idle S]
//                      [--log off|on|both] [--program LABEL=PATH]...
// (defaults: 3 rounds of 20 samples of 16-byte buffers, 3 s idle per round,
// logging off and on, the program of this build; --program may be given more
// than once to set two builds side by side.)
// Prints, per subject, p50 and p99 of VAN -> terminal and of terminal -> VAN
// (the program's beyond its 100 ms quiet gap, which a plain relay does not
// have), each less the plain relay's; then the idle figures (CPU share,
// wake-ups a second, peak resident set) and the load average.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/program_harness.h"
#include "tools/catsim/cat_simulator.h"

namespace {

constexpr double kQuietGapMs = 100.0;

struct Subject {
    std::string label;
    std::string binary;  // empty: the plain relay
    bool log = false;
    std::vector<double> toTerminal;  // ms
    std::vector<double> toVan;       // ms, beyond the gap for the program
    double shortestToVan = 1e9;      // ms, whole path, from before the write
    double idleRunS = 0, idleS = 0;
    long idleSwitches = 0;
    long peakRssKb = 0;
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1,
                      static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

std::string Payload(char tag, int i, size_t size) {
    std::string s = tag + std::to_string(1000000 + i);
    s.resize(size, '.');
    return s;
}

struct Options {
    int rounds = 3;
    int samples = 20;
    size_t size = 16;
    double idleS = 3;
};

// One round of one subject: a fresh line, server and relay; false (with a
// reason) when the relay does not relay.
bool RunRound(Subject& subject, const Options& opt, std::string& why) {
    auto cat = catsim::CatSimulator::CreatePty();
    bench::LoopbackServer van;
    if (!cat || !van.Listening()) {
        why = "cannot make the pseudo-terminal or the server";
        return false;
    }
    std::unique_ptr<bench::Program> program;
    std::unique_ptr<bench::PlainRelay> plain;
    pid_t pid = -1;
    if (subject.binary.empty()) {
        plain = std::make_unique<bench::PlainRelay>(cat->DevicePath(), van.Port());
        if (!plain->Start() || !van.Accept(5000)) {
            why = "socat did not connect (is it installed?)";
            return false;
        }
        pid = plain->Pid();
    } else {
        program = std::make_unique<bench::Program>(
            subject.binary, "brisken-side",
            "[COMPORT]\nport=" + cat->DevicePath() +
                "\nspeed=115200\n[STATUSBOX]\nshow=show\n[COMMON]\nauto_run=Y\nlog=" +
                (subject.log ? "Y" : "N") + "\n");
        if (!program->Start()) {
            why = "cannot start the program";
            return false;
        }
        bool answered = false;
        for (int i = 0; i < 60 && !answered && program->Alive(); ++i) {
            answered = cat->SendLoneCr() && cat->ExpectBurst(catsim::kACK, 500);
        }
        cat->ReadUntilQuiet(150, 3000);  // late ACKs, and the read after them runs out
        if (!answered || !cat->SendRequest("127.0.0.1", std::to_string(van.Port())) ||
            !van.Accept(5000)) {
            why = "the program never took the session";
            return false;
        }
        pid = program->Pid();
    }
    if (!van.Send("G") || cat->ReadExactly(1, 3000) != "G") {
        why = "the greeting did not reach the terminal";
        return false;
    }
    const auto pace = std::chrono::milliseconds(10);  // the terminal's and the VAN's own pace
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (int i = 0; i < opt.samples; ++i) {
        // VAN -> terminal: the clock runs from just before the server's send.
        const std::string down = Payload('V', i, opt.size);
        const int64_t d0 = bench::NowUs();
        if (!van.Send(down)) {
            why = "server send failed";
            return false;
        }
        const std::string gotDown = cat->ReadExactly(down.size(), 3000);
        const int64_t d1 = bench::NowUs();
        if (gotDown != down) {
            why = "a VAN buffer did not arrive whole: " + catsim::Hex(gotDown);
            return false;
        }
        subject.toTerminal.push_back(static_cast<double>(d1 - d0) / 1000.0);
        std::this_thread::sleep_for(pace);

        // Terminal -> VAN: the bytes went out between the two readings; the
        // time runs from the second, and a buffer ended before the gap is
        // proven only against the first.
        const std::string up = Payload('T', i, opt.size);
        const int64_t before = bench::NowUs();
        if (!cat->Send(up)) {
            why = "terminal write failed";
            return false;
        }
        const int64_t u0 = bench::NowUs();
        const std::string gotUp = van.Receive(up.size(), 3000);
        const int64_t u1 = bench::NowUs();
        if (gotUp != up) {
            why = "a terminal buffer did not arrive whole: " + catsim::Hex(gotUp);
            return false;
        }
        const double whole = static_cast<double>(u1 - u0) / 1000.0;
        subject.toVan.push_back(program ? whole - kQuietGapMs : whole);
        subject.shortestToVan =
            std::min(subject.shortestToVan, static_cast<double>(u1 - before) / 1000.0);
        std::this_thread::sleep_for(pace);
    }
    if (program) {
        cat->SendRun(catsim::kESC);  // the terminal ends the session; the program listens on
        van.WaitClosed(3000);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    // Idle: the program listening for the terminal, socat with its link up.
    const int64_t run0 = bench::RunNs(pid);
    const long sw0 = bench::ContextSwitches(pid);
    const int64_t t0 = bench::NowUs();
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(opt.idleS * 1000)));
    const int64_t run1 = bench::RunNs(pid);
    const long sw1 = bench::ContextSwitches(pid);
    const int64_t t1 = bench::NowUs();
    if (run0 >= 0 && run1 >= run0) subject.idleRunS += static_cast<double>(run1 - run0) / 1e9;
    subject.idleS += static_cast<double>(t1 - t0) / 1e6;
    subject.idleSwitches += sw1 - sw0;
    subject.peakRssKb = std::max(subject.peakRssKb, bench::PeakRssKb(pid));
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: side_by_side_bench [--rounds N] [--samples N] [--size N] [--idle S]\n"
                 "                          [--log off|on|both] [--program LABEL=PATH]...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    std::string logModes = "both";
    std::vector<std::pair<std::string, std::string>> programs;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return Usage();
        const std::string v = argv[++i];
        if (a == "--rounds") {
            opt.rounds = std::max(1, std::atoi(v.c_str()));
        } else if (a == "--samples") {
            opt.samples = std::max(1, std::atoi(v.c_str()));
        } else if (a == "--size") {
            opt.size = static_cast<size_t>(std::clamp(std::atoi(v.c_str()), 8, 2048));
        } else if (a == "--idle") {
            opt.idleS = std::max(0.0, std::atof(v.c_str()));
        } else if (a == "--log" && (v == "off" || v == "on" || v == "both")) {
            logModes = v;
        } else if (a == "--program" && v.find('=') != std::string::npos) {
            programs.emplace_back(v.substr(0, v.find('=')), v.substr(v.find('=') + 1));
        } else {
            return Usage();
        }
    }
    if (programs.empty()) programs.emplace_back("program", BRISKEN_BINARY);

    std::vector<Subject> subjects;
    subjects.push_back({"socat (plain relay)", "", false, {}, {}, 1e9, 0, 0, 0, 0});
    for (const auto& [label, path] : programs) {
        for (const bool log : {false, true}) {
            if ((log && logModes == "off") || (!log && logModes == "on")) continue;
            subjects.push_back(
                {label + (log ? ", log on" : ", log off"), path, log, {}, {}, 1e9, 0, 0, 0, 0});
        }
    }

    const double loadBefore = bench::LoadAverage1();
    std::vector<double> loads;
    for (int round = 0; round < opt.rounds; ++round) {
        for (size_t k = 0; k < subjects.size(); ++k) {
            Subject& s = subjects[(k + static_cast<size_t>(round)) % subjects.size()];
            std::string why;
            if (!RunRound(s, opt, why)) {
                std::fprintf(stderr, "side_by_side_bench: %s: %s\n", s.label.c_str(), why.c_str());
                return 1;
            }
            loads.push_back(bench::LoadAverage1());
        }
    }

    const Subject& plain = subjects.front();
    const double plainDown50 = Percentile(plain.toTerminal, 0.5);
    const double plainDown99 = Percentile(plain.toTerminal, 0.99);
    const double plainUp50 = Percentile(plain.toVan, 0.5);
    const double plainUp99 = Percentile(plain.toVan, 0.99);
    std::printf("%d rounds x %d samples, %zu-byte buffers, interleaved; times in ms\n", opt.rounds,
                opt.samples, opt.size);
    std::printf(
        "terminal -> VAN: the program's time beyond its %.0f ms quiet gap, socat's whole path\n",
        kQuietGapMs);
    std::printf("%-26s %8s %8s %8s %8s | %8s %8s %8s %8s | %7s %8s %7s\n", "", "V->T p50", "p99",
                "+p50", "+p99", "T->V p50", "p99", "+p50", "+p99", "idle %", "wakeup/s", "RSS MB");
    for (const Subject& s : subjects) {
        const double d50 = Percentile(s.toTerminal, 0.5), d99 = Percentile(s.toTerminal, 0.99);
        const double u50 = Percentile(s.toVan, 0.5), u99 = Percentile(s.toVan, 0.99);
        std::printf(
            "%-26s %8.3f %8.3f %+8.3f %+8.3f | %8.3f %8.3f %+8.3f %+8.3f | %7.3f %8.1f %7.1f\n",
            s.label.c_str(), d50, d99, d50 - plainDown50, d99 - plainDown99, u50, u99,
            u50 - plainUp50, u99 - plainUp99, s.idleS > 0 ? 100.0 * s.idleRunS / s.idleS : 0.0,
            s.idleS > 0 ? static_cast<double>(s.idleSwitches) / s.idleS : 0.0,
            static_cast<double>(s.peakRssKb) / 1024.0);
    }
    bool early = false;
    for (const Subject& s : subjects) {
        if (!s.binary.empty() && s.shortestToVan < kQuietGapMs) {
            std::printf(
                "%s: a terminal buffer reached the VAN %.3f ms after its write: "
                "BEFORE THE GAP\n",
                s.label.c_str(), s.shortestToVan);
            early = true;
        }
    }
    std::printf(
        "(+ columns: less socat's figure. idle: the program listening, socat linked; "
        "wake-ups are context switches of all threads)\n");
    const auto [lo, hi] = std::minmax_element(loads.begin(), loads.end());
    std::printf("load average (1 min): %.2f at the start, %.2f to %.2f during the run, %ld cores\n",
                loadBefore, *lo, *hi, sysconf(_SC_NPROCESSORS_ONLN));
    return early ? 1 : 0;
}
