#include "platform/serial_device.h"

// termios2 (arbitrary rates through BOTHER) comes from the kernel headers, which
// clash with <termios.h>; everything here goes through ioctl instead.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string ErrnoText(const char* what, int err) {
    return std::string(what) + ": " + std::strerror(err);
}

bool GetTermios(int fd, termios2& t) { return ::ioctl(fd, TCGETS2, &t) == 0; }

void MakeRaw(termios2& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL;
    // Non-blocking descriptors and poll() do the timing; the driver only hands over bytes.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

// Blocks until the wake-up fires or ms pass; true when woken.
bool WaitForWake(int wakeFd, int64_t ms) {
    const int64_t deadline = NowMs() + ms;
    for (;;) {
        const int64_t left = deadline - NowMs();
        if (left <= 0) return false;
        if (wakeFd < 0) {
            ::poll(nullptr, 0, static_cast<int>(left));
            continue;
        }
        pollfd p{wakeFd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
    }
}

}  // namespace

// How far ahead of a wait's end the first wake-up is set (see Read).
constexpr int64_t kFinalApproachNs = 300000;

struct SerialDevice::Impl {
    int fd = -1;
    int slaveFd = -1;  // pseudo-terminal pairs made here only
    int readWake = -1;
    int writeWake = -1;
    std::atomic<bool> readCancelled{false};
    std::atomic<bool> writeCancelled{false};
    std::atomic<bool> lost{false};
};

std::string SerialDevicePath(const std::string& portName) {
    if (portName.size() > 3 && portName.size() <= 8 && portName.compare(0, 3, "COM") == 0 &&
        std::all_of(portName.begin() + 3, portName.end(),
                    [](char c) { return c >= '0' && c <= '9'; })) {
        const int n = std::stoi(portName.substr(3));
        if (n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
    }
    return portName;
}

SerialDevice::SerialDevice() : m_impl(std::make_unique<Impl>()) {}

bool SerialDevice::IsOpen() const { return m_impl->fd >= 0; }

SerialDevice::~SerialDevice() { Close(); }

void SerialDevice::SetError(SerialErrorKind kind, int code, std::string text) {
    m_error = SerialError{kind, code, std::move(text)};
}

bool SerialDevice::Open(const std::string& path) {
    Close();
    return OpenLine(path);
}

void SerialDevice::DropLine() {
    if (m_impl->fd >= 0) ::flock(m_impl->fd, LOCK_UN);
    CloseFd(m_impl->fd);
    CloseFd(m_impl->slaveFd);
}

bool SerialDevice::Reopen(const std::string& path) {
    DropLine();
    return OpenLine(path);
}

bool SerialDevice::LineLost() const { return m_impl->lost.load(); }

bool SerialDevice::OpenLine(const std::string& path) {
    m_error = {};
    m_impl->lost.store(false);
    if (path.empty()) {
        SetError(SerialErrorKind::InvalidArgument, 0, "no device path");
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        SetError(err == EBUSY ? SerialErrorKind::Busy : SerialErrorKind::Os, err,
                 ErrnoText(("open " + path).c_str(), err));
        return false;
    }
    // The advisory lock also stops a second open from this very process (and
    // from root, whom TIOCEXCL does not stop).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        SetError(err == EWOULDBLOCK ? SerialErrorKind::Busy : SerialErrorKind::Os, err,
                 ErrnoText(("lock " + path).c_str(), err));
        return false;
    }
    termios2 t{};
    if (!GetTermios(fd, t)) {
        const int err = errno;
        ::close(fd);
        SetError(SerialErrorKind::Os, err, ErrnoText((path + " is no serial line").c_str(), err));
        return false;
    }
    ::ioctl(fd, TIOCEXCL);
    m_impl->fd = fd;
    m_path = path;
    return true;
}

bool OpenPseudoTerminal(SerialDevice& device, std::string& slavePath) {
    device.Close();
    device.m_error = {};
    const auto SetError = [&device](SerialErrorKind kind, int code, std::string text) {
        device.SetError(kind, code, std::move(text));
    };
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        SetError(SerialErrorKind::Os, errno, ErrnoText("posix_openpt", errno));
        return false;
    }
    char name[128] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        const int err = errno;
        ::close(master);
        SetError(SerialErrorKind::Os, err, ErrnoText("pseudo-terminal set-up", err));
        return false;
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        const int err = errno;
        ::close(master);
        SetError(SerialErrorKind::Os, err, ErrnoText("open pseudo-terminal slave", err));
        return false;
    }
    // Raw from the start, so nothing sent before the other side configures the
    // line is echoed back or held for a line end.
    termios2 t{};
    if (GetTermios(slave, t)) {
        MakeRaw(t);
        ::ioctl(slave, TCSETS2, &t);
    }
    device.m_impl->fd = master;
    device.m_impl->slaveFd = slave;
    device.m_path = name;
    slavePath = name;
    return true;
}

bool SerialDevice::CreateReadWakeup() {
    if (m_impl->readWake >= 0) return true;
    m_impl->readWake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return m_impl->readWake >= 0;
}

bool SerialDevice::CreateWriteWakeup() {
    if (m_impl->writeWake >= 0) return true;
    m_impl->writeWake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return m_impl->writeWake >= 0;
}

void SerialDevice::Configure(const SerialLineSettings& s) {
    if (m_impl->fd < 0) return;
    Purge();
    termios2 original{};
    if (!GetTermios(m_impl->fd, original)) return;
    termios2 t = original;
    MakeRaw(t);
    if (s.dataBits == 7 || s.dataBits == 8) {
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
        t.c_cflag |= s.dataBits == 7 ? CS7 : CS8;
    }
    switch (s.parity) {
        case SerialParity::None:
            t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
            break;
        case SerialParity::Even:
            t.c_cflag = (t.c_cflag | PARENB) & ~static_cast<tcflag_t>(PARODD);
            break;
        case SerialParity::Odd:
            t.c_cflag |= PARENB | PARODD;
            break;
        case SerialParity::Keep:
            break;
    }
    if (t.c_cflag & PARENB) t.c_iflag |= INPCK;
    switch (s.stopBits) {
        case SerialStopBits::One:
            t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
            break;
        // One and a half is what a UART makes of "two" at five data bits.
        case SerialStopBits::OneAndHalf:
        case SerialStopBits::Two:
            t.c_cflag |= CSTOPB;
            break;
        case SerialStopBits::Keep:
            break;
    }
    termios2 withoutRate = t;
    if (s.baud > 0) {
        t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
        t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
        t.c_ispeed = static_cast<speed_t>(s.baud);
        t.c_ospeed = static_cast<speed_t>(s.baud);
    }
    if (::ioctl(m_impl->fd, TCSETS2, &t) == 0) return;
    // The driver refused the rate (or a setting): keep its rate, apply the rest.
    if (s.baud > 0 && ::ioctl(m_impl->fd, TCSETS2, &withoutRate) == 0) return;
    ::ioctl(m_impl->fd, TCSETS2, &original);
}

void SerialDevice::Purge() {
    if (m_impl->fd >= 0) ::ioctl(m_impl->fd, TCFLSH, TCIOFLUSH);
}

void SerialDevice::PurgeOutput() {
    if (m_impl->fd >= 0) ::ioctl(m_impl->fd, TCFLSH, TCOFLUSH);
}

bool SerialDevice::SetDtr(bool on) {
    if (m_impl->fd < 0) return false;
    int bits = TIOCM_DTR;
    return ::ioctl(m_impl->fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

bool SerialDevice::SetRts(bool on) {
    if (m_impl->fd < 0) return false;
    int bits = TIOCM_RTS;
    return ::ioctl(m_impl->fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

int SerialDevice::CurrentBaud() const {
    termios2 t{};
    if (m_impl->fd < 0 || !GetTermios(m_impl->fd, t)) return -1;
    return static_cast<int>(t.c_ospeed);
}

int SerialDevice::CurrentDataBits() const {
    termios2 t{};
    if (m_impl->fd < 0 || !GetTermios(m_impl->fd, t)) return -1;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            return 5;
        case CS6:
            return 6;
        case CS7:
            return 7;
        default:
            return 8;
    }
}

int SerialDevice::Read(uint8_t* dst, int count, const SerialReadTiming& timing) {
    if (dst == nullptr || count <= 0 || m_impl->fd < 0) return -1;
    if (m_impl->readCancelled.load()) return 0;
    // The quiet gap that ends a buffer is timed to the microsecond, from the
    // moment the last byte was taken: whole milliseconds would end some
    // buffers before the gap had passed and hold others up to a millisecond
    // longer, and the kernel's default timer slack would add to it.
    thread_local const bool preciseTimers = ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0) == 0;
    (void)preciseTimers;

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline =
        start + std::chrono::milliseconds(timing.totalConstMs +
                                          static_cast<int64_t>(count) * timing.totalPerByteMs);
    const auto interval = std::chrono::milliseconds(timing.intervalMs);
    int got = 0;
    Clock::time_point lastByte = start;
    bool failed = false;
    bool woken = false;
    pollfd fds[2] = {{m_impl->fd, POLLIN, 0}, {m_impl->readWake, POLLIN, 0}};
    const nfds_t nfds = m_impl->readWake >= 0 ? 2 : 1;

    while (got < count) {
        const Clock::time_point now = Clock::now();
        const Clock::time_point until = got > 0 ? std::min(deadline, lastByte + interval) : deadline;
        if (now >= until) break;
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(until - now).count();
        // The kernel lets a poll end late by a thousandth of its length
        // (100 us on the quiet gap), whatever the thread's timer slack, and a
        // thread that has slept long wakes slowly on some machines: a long
        // wait stops short of its end once, and the loop waits out the rest
        // in a short one, which ends on time.
        if (left > 2 * kFinalApproachNs) left -= kFinalApproachNs;
        const timespec wait{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
        fds[0].revents = fds[1].revents = 0;
        const int r = ::ppoll(fds, nfds, &wait, nullptr);
        if (r < 0) {
            if (errno == EINTR) continue;
            failed = true;
            break;
        }
        if (r == 0) continue;
        if (nfds == 2 && fds[1].revents != 0) {
            woken = true;
            break;
        }
        const short ev = fds[0].revents;
        if (ev == 0) continue;
        const ssize_t n = ::read(m_impl->fd, dst + got, static_cast<size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
            lastByte = Clock::now();
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR) &&
            (ev & (POLLHUP | POLLERR | POLLNVAL)) == 0)
            continue;
        // End of file, EIO or a hang-up: the line is gone (an unplugged adapter,
        // a closed pseudo-terminal master).
        m_impl->lost.store(true);
        failed = true;
        break;
    }
    if (got > 0) return got;
    if (woken) return 0;
    if (failed) {
        // Sit out the time an idle read would take, so a caller that retries
        // a dead line paces itself instead of spinning; a cancel still ends it.
        WaitForWake(m_impl->readWake, std::chrono::duration_cast<std::chrono::milliseconds>(
                                          deadline - Clock::now())
                                          .count());
        return -1;
    }
    return 0;
}

bool SerialDevice::Write(const uint8_t* src, int count, int timeoutMs) {
    if (m_impl->fd < 0 || count < 0 || (src == nullptr && count > 0)) return false;
    if (count == 0) return true;
    if (m_impl->writeCancelled.load()) return false;

    // The time-out runs from the last byte the driver took: a slow line that
    // keeps draining (a 2 KB answer at 9600 bit/s takes two seconds) gets all
    // of its bytes, and only a line that takes nothing for timeoutMs is given up.
    int64_t deadline = NowMs() + timeoutMs;
    int done = 0;
    pollfd fds[2] = {{m_impl->fd, POLLOUT, 0}, {m_impl->writeWake, POLLIN, 0}};
    const nfds_t nfds = m_impl->writeWake >= 0 ? 2 : 1;
    while (done < count) {
        const ssize_t n = ::write(m_impl->fd, src + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            deadline = NowMs() + timeoutMs;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (!(n < 0 && errno == EAGAIN)) {
            if (n < 0 && (errno == EIO || errno == ENXIO || errno == ENODEV)) m_impl->lost.store(true);
            break;
        }
        const int64_t wait = deadline - NowMs();
        if (wait <= 0) break;
        fds[0].revents = fds[1].revents = 0;
        const int r = ::poll(fds, nfds, static_cast<int>(wait));
        if (r < 0 && errno != EINTR) break;
        if (nfds == 2 && fds[1].revents != 0) break;
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(fds[0].revents & POLLOUT)) {
            m_impl->lost.store(true);
            break;
        }
    }
    if (done == count) return true;
    // The line took nothing for timeoutMs: it is stuck (the terminal does not
    // read, or flow control holds it). What is still queued is stale; it is
    // dropped so that nothing of it trails into the next write, and the next
    // write (an ESC burst, say) reaches the terminal whole once it reads again.
    PurgeOutput();
    return false;
}

void SerialDevice::CancelRead() {
    m_impl->readCancelled.store(true);
    if (m_impl->readWake >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_impl->readWake, &one, sizeof one);
    }
}

void SerialDevice::CancelWrite() {
    m_impl->writeCancelled.store(true);
    if (m_impl->writeWake >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_impl->writeWake, &one, sizeof one);
    }
}

void SerialDevice::Close() {
    if (m_impl->fd >= 0) ::flock(m_impl->fd, LOCK_UN);
    CloseFd(m_impl->fd);
    CloseFd(m_impl->slaveFd);
    CloseFd(m_impl->readWake);
    CloseFd(m_impl->writeWake);
    m_impl->readCancelled.store(false);
    m_impl->writeCancelled.store(false);
    m_impl->lost.store(false);
    m_path.clear();
}

}  // namespace platform
