// program_soak_bench: many sessions through the real program (headless) with
// the faults a shop's line sees, every byte checked at both ends.
//   program_soak_bench [sessions]   (default 1000)
// The terminal is a pseudo-terminal reached through a link (so it can be
// unplugged and plugged in again), the VAN a server on 127.0.0.1. Prints the
// sessions by kind, the bytes each way, mismatches and crashes (both must be
// 0), RSS and open descriptors at 1, 100 and the last session, CPU per session.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "bench/program_harness.h"
#include "tools/catsim/cat_simulator.h"

namespace {

namespace fs = std::filesystem;

enum class Kind { Good, Noise, Big, Refused, Silent, ServerCloses, Garbage, CrRun, Unplug };

const char* Name(Kind k) {
    switch (k) {
        case Kind::Good:
            return "good transaction";
        case Kind::Noise:
            return "noise before the request";
        case Kind::Big:
            return "2049-byte buffers both ways";
        case Kind::Refused:
            return "server refuses";
        case Kind::Silent:
            return "server stays silent";
        case Kind::ServerCloses:
            return "server closes mid-session";
        case Kind::Garbage:
            return "server sends garbage";
        case Kind::CrRun:
            return "terminal ends with a CR run";
        case Kind::Unplug:
            return "unplugged mid-session, plugged in again";
    }
    return "?";
}

Kind KindOf(int i, int sessions) {
    if (i == sessions / 2) return Kind::Unplug;
    if (i % 100 == 37) return Kind::Silent;
    switch (i % 20) {
        case 3:
            return Kind::Refused;
        case 5:
            return Kind::ServerCloses;
        case 7:
            return Kind::Garbage;
        case 9:
            return Kind::CrRun;
        case 11:
            return Kind::Big;
        case 13:
            return Kind::Noise;
        default:
            return Kind::Good;
    }
}

const std::string kEscBurst(5, '\x1B');

class Soak {
public:
    explicit Soak(int sessions) : m_sessions(sessions), m_rng(20261209) {}
    int Run();

private:
    // Random bytes that a session carries as data: never four ESC or CR among
    // the first five (that would end the session).
    std::string Payload(size_t n) {
        std::uniform_int_distribution<int> byte(0, 255);
        std::string s(n, '\0');
        for (;;) {
            for (char& c : s) c = static_cast<char>(byte(m_rng));
            int esc = 0, cr = 0;
            for (size_t i = 0; i < s.size() && i < 5; ++i) {
                esc += s[i] == '\x1B';
                cr += s[i] == '\r';
            }
            if (esc < 4 && cr < 4) return s;
        }
    }
    size_t Size(size_t max) { return std::uniform_int_distribution<size_t>(1, max)(m_rng); }
    bool Check(bool ok, int i, const std::string& what) {
        if (!ok) {
            ++m_mismatches;
            std::fprintf(stderr, "session %d (%s): %s\n", i, Name(m_kind), what.c_str());
        }
        return ok;
    }
    // Terminal -> VAN, checked at the server.
    bool ToVan(const std::string& bytes, int i) {
        if (!m_cat->Send(bytes)) return Check(false, i, "terminal write failed");
        const bool ok = m_van.Receive(bytes.size(), 5000) == bytes;
        if (ok) m_toVan += bytes.size();
        return Check(ok, i, "terminal -> VAN bytes differ");
    }
    // VAN -> terminal, checked at the terminal.
    bool ToCat(const std::string& bytes, int i) {
        if (!m_van.Send(bytes)) return Check(false, i, "server send failed");
        const bool ok = m_cat->ReadExactly(bytes.size(), 5000) == bytes;
        if (ok) m_toCat += bytes.size();
        return Check(ok, i, "VAN -> terminal bytes differ");
    }
    bool Request(const std::string& noise, uint16_t port) {
        std::string frame = noise;
        frame += '\x01';
        frame += "127.0.0.1";
        frame += '\x1C';
        frame += std::to_string(port);
        frame += '\x17';
        return m_cat->Send(frame);
    }
    // Request, accept, greeting at the terminal.
    bool Open(int i, const std::string& noise = {}) {
        if (!Request(noise, m_van.Port())) return Check(false, i, "request not written");
        if (!m_van.Accept(5000)) return Check(false, i, "the program did not connect");
        return ToCat("G" + std::to_string(i), i);
    }
    bool ExpectEscBurst(int i) {
        return Check(m_cat->ReadExactly(5, 5000) == kEscBurst, i, "no ESC burst at the terminal");
    }
    bool ExpectServerClosed(int i) {
        std::string extra;
        const bool closed = m_van.WaitClosed(5000, &extra);
        Check(extra.empty(), i, "bytes after the end reached the VAN");
        return Check(closed, i, "the link was not ended");
    }
    void Replug(int i);
    void Session(int i);
    void Figures(int n) {
        std::printf("  after %4d sessions: RSS %6ld kB, open descriptors %d\n", n,
                    m_program->RssKb(), m_program->OpenFds());
    }

    int m_sessions;
    std::mt19937 m_rng;
    Kind m_kind = Kind::Good;
    std::unique_ptr<bench::Program> m_program;
    std::unique_ptr<catsim::CatSimulator> m_cat;
    std::string m_link;
    bench::LoopbackServer m_van;
    uint64_t m_toVan = 0, m_toCat = 0;
    int m_mismatches = 0;
    std::map<Kind, int> m_byKind;
};

void Soak::Replug(int i) {
    m_cat->Hangup();  // the adapter is pulled
    auto fresh = catsim::CatSimulator::CreatePty();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // out for a while
    const std::string tmp = m_link + ".new";
    fs::remove(tmp);
    if (!fresh || ::symlink(fresh->DevicePath().c_str(), tmp.c_str()) != 0) {
        Check(false, i, "cannot plug the terminal in again");
        return;
    }
    fs::rename(tmp, m_link);
    m_cat = std::move(fresh);
    bool answered = false;
    for (int k = 0; k < 20 && !answered; ++k) {
        answered = m_cat->SendLoneCr() && m_cat->ExpectBurst(0x06, 500);
    }
    Check(answered, i, "the program did not serve the terminal again");
    m_cat->ReadUntilQuiet(150, 3000);  // late ACKs; the read after them runs out
}

void Soak::Session(int i) {
    m_kind = KindOf(i, m_sessions);
    ++m_byKind[m_kind];
    switch (m_kind) {
        case Kind::Good:
        case Kind::Noise:
        case Kind::Big: {
            std::string noise;
            if (m_kind == Kind::Noise) {
                std::uniform_int_distribution<int> printable(0x20, 0x7E);
                noise.resize(Size(40));
                for (char& c : noise) c = static_cast<char>(printable(m_rng));
            }
            if (!Open(i, noise)) return;
            const size_t up = m_kind == Kind::Big ? 2049 : Size(512);
            const size_t down = m_kind == Kind::Big ? 2049 : Size(512);
            if (!ToVan(Payload(up), i) || !ToCat(Payload(down), i)) return;
            m_cat->SendRun(0x1B);  // the terminal ends the session: nothing comes back
            ExpectServerClosed(i);
            return;
        }
        case Kind::Refused: {
            // A port nobody listens on: one just let go of.
            uint16_t port = 0;
            {
                bench::LoopbackServer gone;
                port = gone.Port();
            }
            if (!Request({}, port)) {
                Check(false, i, "request not written");
                return;
            }
            ExpectEscBurst(i);
            return;
        }
        case Kind::Silent:
            if (!Request({}, m_van.Port())) {
                Check(false, i, "request not written");
                return;
            }
            if (!Check(m_van.Accept(5000), i, "the program did not connect")) return;
            ExpectEscBurst(i);  // nothing within 2 s: the program gives up
            m_van.Close();
            return;
        case Kind::ServerCloses:
            if (!Open(i) || !ToVan(Payload(Size(512)), i)) return;
            m_van.Close();
            ExpectEscBurst(i);  // the terminal had used the session
            return;
        case Kind::Garbage:
            if (!Request({}, m_van.Port()) || !m_van.Accept(5000)) {
                Check(false, i, "the program did not connect");
                return;
            }
            if (!ToCat(Payload(Size(2049)), i)) return;  // no greeting, just noise
            m_cat->SendRun(0x1B);
            ExpectServerClosed(i);
            return;
        case Kind::CrRun:
            if (!Open(i) || !ToVan(Payload(Size(64)), i)) return;
            m_cat->SendRun(0x0D);
            ExpectServerClosed(i);
            ExpectEscBurst(i);
            return;
        case Kind::Unplug:
            if (!Open(i) || !ToVan(Payload(Size(64)), i)) return;
            Replug(i);
            ExpectServerClosed(i);
            return;
    }
}

int Soak::Run() {
    m_cat = catsim::CatSimulator::CreatePty();
    if (!m_cat || !m_van.Listening()) return 1;
    m_program = std::make_unique<bench::Program>(BRISKEN_BINARY, "brisken-soak", "");
    // The port is a link, as a /dev/serial/by-id name is.
    m_link = m_program->Home() + "/ttyTERMINAL";
    if (::symlink(m_cat->DevicePath().c_str(), m_link.c_str()) != 0) return 1;
    if (FILE* f = std::fopen((m_program->InstallDir() + "/brisken-soak.ini").c_str(), "w")) {
        std::fprintf(f,
                     "[COMPORT]\nport=%s\nspeed=115.2K\n[STATUSBOX]\nshow=show\n"
                     "[COMMON]\nauto_run=Y\nlog=Y\n",
                     m_link.c_str());
        std::fclose(f);
    }
    if (!m_program->Start()) return 1;
    bool answered = false;
    for (int k = 0; k < 60 && !answered && m_program->Alive(); ++k) {
        answered = m_cat->SendLoneCr() && m_cat->ExpectBurst(0x06, 500);
    }
    if (!answered) {
        std::fprintf(stderr, "program_soak_bench: the program never answered the terminal\n");
        return 1;
    }
    m_cat->ReadUntilQuiet(150, 3000);

    const std::string logDir = m_program->InstallDir() + "/CATLOG";
    const std::string logAside = logDir + ".aside";
    const int unwritableFrom = m_sessions * 2 / 5;
    const int unwritableTo = unwritableFrom + std::max(1, m_sessions / 20);
    int crashes = 0;
    int done = 0;
    const double cpu0 = m_program->CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    std::printf("program_soak_bench: %d sessions\n", m_sessions);
    for (int i = 0; i < m_sessions; ++i) {
        std::error_code ec;
        if (i == unwritableFrom) {
            // The log folder cannot be written: a file where it should be
            // (which stops root as well).
            fs::rename(logDir, logAside, ec);
            if (FILE* f = std::fopen(logDir.c_str(), "w")) std::fclose(f);
        }
        if (i == unwritableTo) {
            fs::remove(logDir, ec);
            fs::rename(logAside, logDir, ec);
        }
        Session(i);
        const std::string stray = m_cat->ReadUntilQuiet(1, 1);
        if (!stray.empty()) Check(false, i, "stray bytes at the terminal: " + catsim::Hex(stray));
        if (!m_program->Alive()) {
            ++crashes;
            std::fprintf(stderr, "session %d: the program is gone\n", i);
            break;
        }
        done = i + 1;
        if (done == 1 || done == 100 || done == m_sessions) Figures(done);
    }
    const double cpu = m_program->CpuSeconds() - cpu0;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const int status = m_program->Stop();
    // Ended by our TERM, or exited by itself when asked to end: anything else is a crash.
    if (crashes == 0 && !(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) &&
        !WIFEXITED(status)) {
        ++crashes;
    }

    std::printf("\n  %-42s %8s\n", "session kind", "sessions");
    for (const auto& [kind, n] : m_byKind) std::printf("  %-42s %8d\n", Name(kind), n);
    std::printf("  %-42s %8d\n", "all", done);
    std::printf("  (log folder unwritable for sessions %d to %d)\n", unwritableFrom,
                unwritableTo - 1);
    std::printf(
        "\n  bytes terminal -> VAN %llu, VAN -> terminal %llu (each checked at the far end)\n",
        static_cast<unsigned long long>(m_toVan), static_cast<unsigned long long>(m_toCat));
    std::printf("  mismatches %d, crashes %d\n", m_mismatches, crashes);
    std::printf("  program CPU %.3f s in %.0f s: %.2f ms per session (%.2f %% of a core)\n", cpu,
                wall, 1000.0 * cpu / std::max(1, done), 100.0 * cpu / wall);
    double load[3] = {0, 0, 0};
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3) load[0] = -1;
        std::fclose(f);
    }
    std::printf("  load average %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    return m_mismatches == 0 && crashes == 0 && done == m_sessions ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int sessions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    Soak soak(sessions);
    return soak.Run();
}
