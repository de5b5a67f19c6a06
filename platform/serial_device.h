#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Why the last call on a SerialDevice failed.
enum class SerialErrorKind {
    None,
    InvalidArgument,  // the caller's mistake: bad count, null buffer, not open
    Busy,             // another program (or another open here) holds the port
    Os,               // the system refused; the text carries the system's text
};

struct SerialError {
    SerialErrorKind kind = SerialErrorKind::None;
    int code = 0;      // errno (Windows: GetLastError) for Busy and Os, else 0
    std::string text;  // what failed and why, for logs and messages
};

enum class SerialParity { Keep, None, Odd, Even };
enum class SerialStopBits { Keep, One, OneAndHalf, Two };

// Line settings to apply; Keep (or 0) leaves the driver's value.
struct SerialLineSettings {
    int baud = 0;      // bits per second; 0 keeps the driver's rate
    int dataBits = 0;  // 7 or 8; 0 keeps the driver's value
    SerialParity parity = SerialParity::Keep;
    SerialStopBits stopBits = SerialStopBits::Keep;
};

// When a read completes: count bytes; or, once a byte has come, more than
// intervalMs without another; or totalConstMs + count * totalPerByteMs in all.
struct SerialReadTiming {
    int intervalMs = 100;
    int totalConstMs = 500;
    int totalPerByteMs = 1;
};

class SerialDevice;
#ifdef _WIN32
namespace win {
class CommCalls;
}
#endif

// The device path a port name opens: "COMn" gives "\\.\COMn" on Windows and
// /dev/ttyS(n-1) on Linux; any other name is a device path as it stands.
std::string SerialDevicePath(const std::string& portName);

// Linux only (a test facility): makes a new pseudo-terminal pair and opens its
// master side in device; the slave side is set raw and stays open as well (so
// the master never sees a hang-up before the other program opens the slave).
// slavePath receives the slave's device path.
bool OpenPseudoTerminal(SerialDevice& device, std::string& slavePath);

// A serial line (Windows: a COM port with overlapped I/O; Linux: termios, or
// one side of a pseudo-terminal) with bounded waits. One reader thread and any number of writer
// threads may use an open device at the same time provided writers serialise among themselves;
// Open, Configure and Close belong to one controlling thread while no I/O runs.
// CancelRead and CancelWrite may be called from any thread.
class SerialDevice {
public:
    SerialDevice();
#ifdef _WIN32
    // The port's system calls come from calls (tests pass a fake driver).
    explicit SerialDevice(std::shared_ptr<win::CommCalls> calls);
#endif
    virtual ~SerialDevice();  // closes everything still open
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens an existing device exclusively (Windows: no sharing; Linux: an
    // advisory lock plus TIOCEXCL). False with Busy when another open holds
    // it, Os for anything else.
    bool Open(const std::string& path);

    // A line that has gone (LineLost) is let go of and opened again: only the
    // port's own handle is closed and made anew, while the wake-ups and a
    // cancel that came meanwhile stay, so a stop is never missed. The path is
    // opened afresh (a link is followed to wherever it points now). Same
    // results as Open; the caller configures the line again.
    void DropLine();
    bool Reopen(const std::string& path);

    // True once a read or write has failed because the device is gone (an
    // unplugged adapter, a closed pseudo-terminal master; Windows: the driver's
    // device-removed errors), until the next open. Any thread.
    bool LineLost() const;

    bool IsOpen() const;

    // The events a pending read or write waits on besides the line itself
    // (Windows: the overlapped events; Linux: wake-up descriptors). Read and
    // Write make them when missing. Virtual so a test can make their creation
    // fail.
    virtual bool CreateReadWakeup();
    virtual bool CreateWriteWakeup();

    // Raw mode (Windows: binary, queues of 50000 bytes, every line-state
    // field that could drop, replace or hold back a byte cleared), no flow
    // control, receiver on, modem lines ignored, then the given settings. Both
    // directions are purged first. A rate or setting the driver refuses keeps
    // the driver's value (CurrentBaud tells); no failure is reported.
    void Configure(const SerialLineSettings& settings);

    // Discards what is queued in both directions.
    void Purge();
    // Discards what is queued for output only.
    void PurgeOutput();

    // Raise or lower DTR / RTS. Devices without modem lines (pseudo-terminals)
    // refuse; that is ignored and reported only by the result.
    bool SetDtr(bool on);
    bool SetRts(bool on);

    // The output rate the line is set to now (read back from the driver), or
    // -1 when it cannot be read.
    int CurrentBaud() const;
    // Character size (5..8), or -1.
    int CurrentDataBits() const;

    // Reads up to count bytes by the timing rule: the count read; 0 when the
    // time ran out with nothing, or when cancelled; -1 on an invalid argument
    // (at once) or a failed line (only after the whole time-out has passed or
    // a cancel came, so a caller polling a dead line does not spin). Bytes
    // already read when the line fails are returned first.
    int Read(uint8_t* dst, int count, const SerialReadTiming& timing);

    // Writes all bytes, giving up only when the line takes nothing for
    // timeoutMs: a slow line that keeps draining loses nothing. On giving up
    // (a stuck line) or failure the rest is dropped and the output queue is
    // purged, so nothing of this write trails into the next one; false.
    bool Write(const uint8_t* src, int count, int timeoutMs);

    // Ends a pending Read at once; every later Read returns 0 at once until
    // Close. Any thread. (Windows: a driver whose cancelled transfer does not
    // complete within about 2 s is left with it, and the line counts as lost.)
    void CancelRead();
    // Ends a pending Write at once (it fails); later writes fail until Close.
    void CancelWrite();

    // Releases the port and every handle. Safe to call twice.
    void Close();

    // Why Open failed (controlling thread only; Read and Write report by their
    // results alone, so they never race on it).
    const SerialError& LastError() const { return m_error; }
    const std::string& Path() const { return m_path; }

private:
    friend bool OpenPseudoTerminal(SerialDevice& device, std::string& slavePath);
    void SetError(SerialErrorKind kind, int code, std::string text);
    bool OpenLine(const std::string& path);  // Open without the Close first

    struct Impl;  // the platform's handles
    std::unique_ptr<Impl> m_impl;
    std::string m_path;
    SerialError m_error;
};

}  // namespace platform
