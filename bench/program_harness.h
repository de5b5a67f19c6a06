#pragma once
// What the program benchmarks share: the real program started from outside in
// a home of its own (headless), and a VAN stand-in on 127.0.0.1 whose every
// wait is bounded. Linux only.
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace bench {

// A monotonic reading in microseconds.
int64_t NowUs();

// Figures of a running process from /proc (0 when it cannot be read): its
// peak resident set (kB), and the context switches of all its threads, which
// count its wake-ups (voluntary ones) and its preemptions.
long PeakRssKb(pid_t pid);
double CpuSeconds(pid_t pid);  // user + system time, in clock ticks' steps
// The time its threads ran on a processor, to the nanosecond (scheduler
// statistics); -1 when the system keeps none.
int64_t RunNs(pid_t pid);
long ContextSwitches(pid_t pid);
// The load average over the last minute, as the system reports it.
double LoadAverage1();

// A plain relay for comparison: socat between a serial device path and a
// server on 127.0.0.1 (each byte on as it comes, no framing). Ended by its pid.
class PlainRelay {
public:
    PlainRelay(const std::string& device, uint16_t port);
    ~PlainRelay();  // ends it
    PlainRelay(const PlainRelay&) = delete;
    PlainRelay& operator=(const PlainRelay&) = delete;
    bool Start();
    void Stop();
    pid_t Pid() const { return m_pid; }

private:
    std::string m_device;
    uint16_t m_port;
    pid_t m_pid = -1;
};

// The program installed as <home>/QAVEX/<name> with the given INI text and
// started there; ended by its pid.
class Program {
public:
    Program(const std::string& binary, const std::string& name, const std::string& ini);
    ~Program();  // ends the program and removes its home
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Start();
    // Ends the program by its pid (TERM, then KILL after 5 s); its exit status
    // as waitpid gives it, or -1.
    int Stop();
    bool Alive();
    pid_t Pid() const { return m_pid; }
    const std::string& Home() const { return m_home; }
    const std::string& InstallDir() const { return m_installDir; }

    // Figures from /proc: resident set (kB), open descriptors, CPU time (s).
    long RssKb() const;
    int OpenFds() const;
    double CpuSeconds() const;

private:
    std::string m_binary;
    std::string m_name;
    std::string m_home;
    std::string m_installDir;
    pid_t m_pid = -1;
};

// A TCP server on 127.0.0.1 with one connection at a time.
class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool Listening() const { return m_listen >= 0; }
    uint16_t Port() const { return m_port; }
    // Takes the next connection within ms (the one before is closed); false
    // when none came.
    bool Accept(int ms);
    bool Connected() const { return m_conn >= 0; }
    // Sends all bytes on the connection.
    bool Send(const std::string& bytes);
    // Receives until n bytes have come or ms passed; what came. *closed tells
    // whether the peer closed the connection.
    std::string Receive(size_t n, int ms, bool* closed = nullptr);
    // Waits up to ms for the peer to close (discarding what comes); true when it did.
    bool WaitClosed(int ms, std::string* extra = nullptr);
    void Close();

private:
    int m_listen = -1;
    int m_conn = -1;
    uint16_t m_port = 0;
};

}  // namespace bench
