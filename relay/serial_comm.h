#pragma once
#include <array>
#include <chrono>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace platform {
class SerialDevice;
}

// Open result codes of the terminal port.
inline constexpr int SERIAL_ERR_OPEN = -1;         // absent, or held by another program
inline constexpr int SERIAL_ERR_READ_EVENT = -2;   // the read wake-up cannot be made
inline constexpr int SERIAL_ERR_WRITE_EVENT = -3;  // the write wake-up cannot be made

// The terminal's serial port. One object at a time, reached through
// g_relay.serialLink. Reads come from the terminal worker only; writes may come
// from any thread and are serialised, so two bursts never interleave.
class CSerialCommCls {
public:
    CSerialCommCls(std::string portName, std::string speed, std::string parity,
                   std::string dataBits, std::string stopBits);
    ~CSerialCommCls();
    CSerialCommCls(const CSerialCommCls&) = delete;
    CSerialCommCls& operator=(const CSerialCommCls&) = delete;

    // Uses the given device instead of a fresh one (tests make its wake-ups fail).
    void UseDevice(std::unique_ptr<platform::SerialDevice> device);

    // Opens the device exclusively, configures it and makes the read and write
    // wake-ups: 0, or SERIAL_ERR_OPEN / _READ_EVENT / _WRITE_EVENT. Any failure
    // leaves the port released. UI thread.
    int Open();

    // Line settings, buffers, purge; does nothing unless the port is open.
    void ConfigurePort();

    // Clears the open flag, lowers DTR, purges and releases the port. UI thread.
    void Close();

    // The device has gone (see SerialDevice::LineLost). Any thread.
    bool LineLost() const;
    // Terminal worker, for a port that has gone or never opened: LoseLine clears
    // the open flag and lets go of the device's handle (nothing is sent: the
    // device is not there); Reopen opens the port name afresh and configures
    // it, with Open's results. Neither waits for anything but a write already
    // on the line; a cancel of the read that comes meanwhile still holds.
    void LoseLine();
    int Reopen();
    // A resume or a device change: the open line counts as lost (LineLost)
    // until the terminal worker has let go of it. Any thread.
    void NoticeLineLost();
    // The device itself reported its removal.
    bool DeviceGone() const;

    // The port name from now on: the terminal's adapter found at another
    // number. Whoever opens the port, while it is not open.
    void Rename(std::string portName);

    // The read, write and cancel operations behind ReadCAT, WriteCAT and
    // CancelCATRead; same results.
    int Read(uint8_t* dst, int count);
    int Write(const uint8_t* buf, int count);
    void CancelRead();
    // Ends a write waiting for room at once (it returns 0).
    void CancelWrite();

    bool IsOpen() const { return m_open.load() == 1; }
    const std::string& PortName() const { return m_portName; }
    const std::string& Speed() const { return m_speed; }
    // The device, for reading back the line settings. Valid while this lives.
    const platform::SerialDevice& Device() const { return *m_device; }

    static constexpr int kMaxRead = 3073;  // largest read a caller may ask for
    static constexpr int kWriteTimeoutMs = 1000;
    // How long a stop waits for the port's close (DTR drop and release).
    static constexpr int kCloseWaitMs = 1000;

private:
    void ConfigureDevice();

    std::string m_portName;
    std::string m_speed;
    std::string m_parity;
    std::string m_dataBits;
    std::string m_stopBits;
    std::unique_ptr<platform::SerialDevice> m_device;
    std::atomic<int> m_open{0};
    std::atomic<bool> m_lossNoticed{false};
    std::mutex m_writeMutex;  // one write (one burst) on the line at a time
    // Held while the wake-ups are made under running workers and by the
    // cancels from other threads that use them; never across an open or a
    // close; taken after m_writeMutex.
    mutable std::mutex m_lineMutex;
    std::array<uint8_t, kMaxRead> m_readScratch{};  // terminal worker only
};

// The bit rate the speed table sets for a speed text ("28800" gives 38400,
// "PCI_500K" 56000), or 0 when the text is not in the table and the driver's
// rate stays.
int SpeedTextToBaud(const std::string& speed);

// Builds the port object's device; tests pass one whose wake-ups cannot be made.
using SerialDeviceFactory = std::function<std::unique_ptr<platform::SerialDevice>()>;

// The device a port name opens: "COMn" is the platform's n-th serial port
// (\\.\COMn, /dev/ttyS(n-1)); any other name is a device path as it stands.
std::string SerialDevicePath(const std::string& portName);

// Opens and configures the port; sets g_relay.serialOpen. UI thread, workers stopped.
bool OpenSerialPort(const std::string& portName, const std::string& speed);
bool OpenSerialPort(const std::string& portName, const std::string& speed,
                    const SerialDeviceFactory& makeDevice);
// OpenSerialPort in two steps, so the open itself can run off the
// user-interface thread: Prepare (UI thread) makes the port object, the
// caller runs its Open() on a thread of its own, Finish (UI thread) takes its
// result as OpenSerialPort does; false when the port was closed meanwhile.
CSerialCommCls* PrepareSerialPort(const std::string& portName, const std::string& speed,
                                  const SerialDeviceFactory& makeDevice = {});
bool FinishSerialOpen(CSerialCommCls* link, int code);
// Closes and deletes a port object no longer reachable, on a thread of its
// own, waiting up to CSerialCommCls::kCloseWaitMs; a close the driver holds
// is left to that thread.
void ReleaseSerialLink(CSerialCommCls* link);
// The running port's line counts as lost (resume, device change): the
// terminal worker lets go of it and opens it again. Any thread.
void NoticeSerialLineLost();
// Open() (or Reopen()); when the port is not there, the terminal's adapter
// followed: the one present port with the remembered identity is opened in
// its place, the port renamed to it and the main window told (PortFollowed).
// A port that opens has its identity remembered. Open's results.
int OpenFollowingAdapter(CSerialCommCls& link, bool reopen);
// A relay worker's thread keeps to the port object there is now (none
// included) for the rest of its life. Called as each worker starts.
void PinSerialLinkToThisThread();
// Reads up to count bytes (count <= 3073): the count read, 0 on time-out (or when
// cancelled), -1 on failure. Terminal worker only.
int ReadCAT(uint8_t* dst, int count);
// Writes count bytes: 1 when the write completed within 1000 ms, 0 otherwise.
int WriteCAT(const uint8_t* buf, int count);
// Writes five copies of the byte (and logs them as PcToCat). No port: nothing.
void SendCATControl(uint8_t byte);
// Wakes a ReadCAT pending on the terminal worker and makes later reads return 0
// at once until the port is closed; a WriteCAT waiting on the line ends too
// (it returns 0). The stop path calls it, then closes the port. Any thread.
void CancelCATRead();
// Closes the port (bounded, see ReleaseSerialLink) and logs "Serial CLOSE".
// UI thread, workers stopped.
void CloseSerialPort();

// The terminal's port coming back. Terminal worker only.
// True when the open port has gone (an unplugged adapter).
bool SerialLineLost();
// Lets go of a port that has gone: "Serial CLOSE" logged, the link line and
// "Serial Open FAIL" shown, a VAN link ended as a failed session ends.
void DropLostSerialPort();
// Opens the configured port once more (a link path is followed afresh). On
// success: "Serial Open OK (...)" logged, the lines show the port open, true.
// On failure "Serial Open FAIL (...)" is logged only when logFailure is set.
// False also when there is no port object to retry.
bool RetrySerialPort(bool logFailure);
