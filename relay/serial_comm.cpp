#include "relay/serial_comm.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "config/port_identity.h"
#include "log/traffic_log.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "relay/display.h"
#include "relay/relay_session.h"
#include "relay/relay_state.h"

namespace {

// The terminal paces the relay by these: a read of n bytes ends with n bytes,
// or 100 ms after the last byte once one has come, or after 500 + n ms.
constexpr platform::SerialReadTiming kReadTiming{100, 500, 1};

// Texts in log lines are cut to 31 bytes, never inside a UTF-8 sequence.
std::string Cut31(const std::string& text) {
    if (text.size() <= 31) return text;
    size_t end = 31;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

platform::SerialParity ParityFromText(const std::string& text) {
    if (text == "None") return platform::SerialParity::None;
    if (text == "Even") return platform::SerialParity::Even;
    if (text == "Odd") return platform::SerialParity::Odd;
    return platform::SerialParity::Keep;
}

int DataBitsFromText(const std::string& text) {
    if (text == "7 Bit") return 7;
    if (text == "8 Bit") return 8;
    return 0;
}

platform::SerialStopBits StopBitsFromText(const std::string& text) {
    if (text == "1 Bit") return platform::SerialStopBits::One;
    if (text == "1.5 Bit") return platform::SerialStopBits::OneAndHalf;
    if (text == "2 Bit") return platform::SerialStopBits::Two;
    return platform::SerialStopBits::Keep;
}

// A relay worker keeps to the port object it was started with: one that a
// stop let go of and that comes back from the driver later never reaches the
// port of the next connection.
thread_local bool t_pinned = false;
thread_local CSerialCommCls* t_ownLink = nullptr;

CSerialCommCls* CurrentLink() { return t_pinned ? t_ownLink : g_relay.serialLink.load(); }

void LogEvent(const char* text) { WriteTrafficLog(TrafficKind::Event, text, 0); }

// The open line names the rate the driver really took when it kept another
// than the speed text asked for.
void LogOpenResult(const std::string& portName, const std::string& speed, int code,
                   const std::string& taken = {}) {
    char line[160];
    if (code == 0) {
        std::snprintf(line, sizeof line, "Serial Open OK (Port : %s, Baudrate : %s)",
                      Cut31(portName).c_str(), Cut31(taken.empty() ? speed : taken).c_str());
    } else {
        std::snprintf(line, sizeof line,
                      "Serial Open FAIL (Port : %s, Baudrate : %s) [ErrorCode : %d]",
                      Cut31(portName).c_str(), Cut31(speed).c_str(), code);
    }
    LogEvent(line);
}

// The rate read back from an open port, as text, when it is not the one the
// speed text sets; empty otherwise.
std::string TakenSpeed(const CSerialCommCls& link, const std::string& speed, int code) {
    const int asked = SpeedTextToBaud(speed);
    if (code != 0 || asked <= 0) return {};
    const int now = link.Device().CurrentBaud();
    return now > 0 && now != asked ? std::to_string(now) : std::string{};
}

}  // namespace

void PinSerialLinkToThisThread() {
    t_ownLink = g_relay.serialLink.load();
    t_pinned = true;
}

int SpeedTextToBaud(const std::string& speed) {
    struct Entry {
        const char* text;
        int baud;
    };
    // First match wins. "28800" and "33600" have long been set as 38400, and
    // the PCI_ texts stand for the rates of one particular adapter card.
    static constexpr Entry kTable[] = {
        {"300", 300},        {"600", 600},        {"1200", 1200},      {"2400", 2400},
        {"4800", 4800},      {"9600", 9600},      {"14400", 14400},    {"19200", 19200},
        {"28800", 38400},    {"33600", 38400},    {"38400", 38400},    {"56000", 56000},
        {"57600", 57600},    {"115200", 115200},  {"128000", 128000},  {"256000", 256000},
        {"PCI_9600", 1075},  {"PCI_19200", 2212}, {"PCI_38400", 4300}, {"PCI_57600", 6450},
        {"PCI_500K", 56000},
    };
    for (const Entry& e : kTable) {
        if (speed == e.text) return e.baud;
    }
    return 0;
}

std::string SerialDevicePath(const std::string& portName) {
    return platform::SerialDevicePath(portName);
}

CSerialCommCls::CSerialCommCls(std::string portName, std::string speed, std::string parity,
                               std::string dataBits, std::string stopBits)
    : m_portName(std::move(portName)),
      m_speed(std::move(speed)),
      m_parity(std::move(parity)),
      m_dataBits(std::move(dataBits)),
      m_stopBits(std::move(stopBits)),
      m_device(std::make_unique<platform::SerialDevice>()) {}

// The device's destructor releases whatever is still held.
CSerialCommCls::~CSerialCommCls() = default;

void CSerialCommCls::UseDevice(std::unique_ptr<platform::SerialDevice> device) {
    if (device) m_device = std::move(device);
}

int CSerialCommCls::Open() {
    if (!m_device->Open(SerialDevicePath(m_portName))) return SERIAL_ERR_OPEN;
    m_open.store(1);
    ConfigurePort();
    // Without its wake-ups the port could not be stopped cleanly; let go of it
    // rather than keep it held by a half-made object.
    int code = 0;
    {
        std::lock_guard line(m_lineMutex);  // a stop's cancel may come meanwhile
        if (!m_device->CreateReadWakeup()) {
            code = SERIAL_ERR_READ_EVENT;
        } else if (!m_device->CreateWriteWakeup()) {
            code = SERIAL_ERR_WRITE_EVENT;
        }
    }
    if (code != 0) {
        m_open.store(0);
        m_device->Close();
        return code;
    }
    m_device->SetDtr(true);
    return 0;
}

void CSerialCommCls::Rename(std::string portName) { m_portName = std::move(portName); }

void CSerialCommCls::ConfigurePort() {
    if (m_open.load() != 1) return;
    ConfigureDevice();
}

void CSerialCommCls::ConfigureDevice() {
    platform::SerialLineSettings settings;
    settings.baud = SpeedTextToBaud(m_speed);
    settings.parity = ParityFromText(m_parity);
    settings.dataBits = DataBitsFromText(m_dataBits);
    settings.stopBits = StopBitsFromText(m_stopBits);
    m_device->Configure(settings);  // purges both directions first
    m_device->SetRts(true);         // a pseudo-terminal has no modem lines: ignored
}

bool CSerialCommCls::LineLost() const {
    return m_lossNoticed.load() || m_device->LineLost();
}

bool CSerialCommCls::DeviceGone() const { return m_device->LineLost(); }

void CSerialCommCls::NoticeLineLost() {
    if (m_open.load() == 1) m_lossNoticed.store(true);
}

// Neither the handle's close nor its open runs under the lock a stop's cancel
// takes: the device swaps its handle under a lock of its own.
void CSerialCommCls::LoseLine() {
    m_open.store(0);
    std::lock_guard write(m_writeMutex);
    m_device->DropLine();
    m_lossNoticed.store(false);
}

int CSerialCommCls::Reopen() {
    std::lock_guard write(m_writeMutex);
    if (m_open.load() == 1) return 0;
    if (!m_device->Reopen(SerialDevicePath(m_portName))) return SERIAL_ERR_OPEN;
    // The wake-ups stay from the first open; a port that never opened makes them now.
    int code = 0;
    {
        std::lock_guard line(m_lineMutex);
        if (!m_device->CreateReadWakeup()) {
            code = SERIAL_ERR_READ_EVENT;
        } else if (!m_device->CreateWriteWakeup()) {
            code = SERIAL_ERR_WRITE_EVENT;
        }
    }
    if (code != 0) {
        m_device->DropLine();
        return code;
    }
    ConfigureDevice();
    m_device->SetDtr(true);
    m_open.store(1);
    return 0;
}

void CSerialCommCls::Close() {
    if (m_open.exchange(0) == 1) {
        m_device->CancelWrite();
        std::lock_guard lock(m_writeMutex);
        m_device->SetDtr(false);
        m_device->Purge();
    }
    // Give the terminal time to see DTR drop before the line is let go.
    platform::SleepMs(100);
    m_device->Close();
}

int CSerialCommCls::Read(uint8_t* dst, int count) {
    if (dst == nullptr || count <= 0 || count > kMaxRead || m_open.load() != 1) return -1;
    std::fill_n(m_readScratch.begin(), count, uint8_t{0});
    const int n = m_device->Read(m_readScratch.data(), count, kReadTiming);
    if (n > 0) std::memcpy(dst, m_readScratch.data(), static_cast<size_t>(n));
    return n;
}

int CSerialCommCls::Write(const uint8_t* buf, int count) {
    if (m_open.load() != 1) return 0;
    std::lock_guard lock(m_writeMutex);
    if (m_open.load() != 1) return 0;  // the line went while this write waited
    return m_device->Write(buf, count, kWriteTimeoutMs) ? 1 : 0;
}

void CSerialCommCls::CancelRead() {
    std::lock_guard line(m_lineMutex);
    m_device->CancelRead();
}

void CSerialCommCls::CancelWrite() {
    std::lock_guard line(m_lineMutex);
    m_device->CancelWrite();
}

int OpenFollowingAdapter(CSerialCommCls& link, bool reopen) {
    const int code = reopen ? link.Reopen() : link.Open();
    if (code == 0) {
        RememberPortIdentity(link.PortName());
        return 0;
    }
    if (code != SERIAL_ERR_OPEN || g_portIdentitySource == nullptr) return code;
    // The devices are looked at only when there is an adapter to look for.
    const std::string known = ReadKnownIdentity();
    if (known.empty()) return code;
    const std::string to = FollowedPort(link.PortName(), known, g_portIdentitySource());
    if (to.empty()) return code;
    const std::string from = link.PortName();
    link.Rename(to);
    if ((reopen ? link.Reopen() : link.Open()) != 0) {
        link.Rename(from);  // waited on under its configured name, as before
        return code;
    }
    if (IDisplayTarget* main = g_relay.mainWindow.load()) main->PortFollowed(to);
    return 0;
}

bool OpenSerialPort(const std::string& portName, const std::string& speed) {
    return OpenSerialPort(portName, speed, SerialDeviceFactory{});
}

bool OpenSerialPort(const std::string& portName, const std::string& speed,
                    const SerialDeviceFactory& makeDevice) {
    CSerialCommCls* link = PrepareSerialPort(portName, speed, makeDevice);
    return FinishSerialOpen(link, OpenFollowingAdapter(*link, false));
}

CSerialCommCls* PrepareSerialPort(const std::string& portName, const std::string& speed,
                                  const SerialDeviceFactory& makeDevice) {
    // A new open always starts from a fresh object; the old one lets go of
    // anything it still held.
    ReleaseSerialLink(g_relay.serialLink.exchange(nullptr));
    auto* link = new CSerialCommCls(portName, speed, "None", "8 Bit", "1 Bit");
    if (makeDevice) link->UseDevice(makeDevice());
    g_relay.serialLink.store(link);
    return link;
}

bool FinishSerialOpen(CSerialCommCls* link, int code) {
    if (link == nullptr || g_relay.serialLink.load() != link) return false;  // stopped meanwhile
    const std::string& portName = link->PortName();
    const std::string& speed = link->Speed();
    if (code == 0) {
        g_relay.serialOpen.store(true);
        SetTransferState("", kNormalColour);
    } else {
        g_relay.serialOpen.store(false);
        SetTransferState("Serial Open FAIL", kErrorColour);
    }
    if (RelayLogging()) LogOpenResult(portName, speed, code, TakenSpeed(*link, speed, code));
    return code == 0;
}

int ReadCAT(uint8_t* dst, int count) {
    CSerialCommCls* link = CurrentLink();
    return link ? link->Read(dst, count) : -1;
}

int WriteCAT(const uint8_t* buf, int count) {
    CSerialCommCls* link = CurrentLink();
    return link ? link->Write(buf, count) : 0;
}

void SendCATControl(uint8_t byte) {
    CSerialCommCls* link = CurrentLink();
    if (link == nullptr) return;
    uint8_t burst[5];
    std::fill_n(burst, 5, byte);
    // One write under the port's write lock: the burst never interleaves.
    link->Write(burst, 5);
    if (RelayLogging()) WriteTrafficLog(TrafficKind::PcToCat, burst, 5);
}

void CancelCATRead() {
    if (CSerialCommCls* link = g_relay.serialLink.load()) {
        link->CancelRead();
        // A write stuck on a driver that takes nothing must not hold the stop
        // for its whole bound either; the port is closed next.
        link->CancelWrite();
    }
}

void ReleaseSerialLink(CSerialCommCls* link) {
    if (link == nullptr) return;
    // A dead adapter's driver may hold the close for ever: it runs on a
    // thread of its own, and one that does not end in time is left to it
    // (the object is no longer reachable, so nothing uses it again).
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    try {
        std::thread([link, done] {
            link->Close();
            delete link;
            std::lock_guard lock(done->mutex);
            done->done = true;
            done->cv.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        link->Close();
        delete link;
        return;
    }
    std::unique_lock lock(done->mutex);
    done->cv.wait_for(lock, std::chrono::milliseconds(CSerialCommCls::kCloseWaitMs),
                      [&] { return done->done; });
}

void CloseSerialPort() {
    g_relay.serialOpen.store(false);
    ReleaseSerialLink(g_relay.serialLink.exchange(nullptr));
    if (RelayLogging()) LogEvent("Serial CLOSE");
}

void NoticeSerialLineLost() {
    if (CSerialCommCls* link = CurrentLink()) link->NoticeLineLost();
}

bool SerialLineLost() {
    CSerialCommCls* link = CurrentLink();
    return link != nullptr && link->LineLost();
}

void DropLostSerialPort() {
    CSerialCommCls* link = CurrentLink();
    if (link == nullptr) return;
    g_relay.serialOpen.store(false);
    // A line that is still there (a resume, a device change) ends a VAN link
    // as a failed link ends, the terminal told while its port is open.
    if (!link->DeviceGone() && g_relay.vanConnected.load()) DisconnectVAN();
    link->LoseLine();
    if (RelayLogging()) LogEvent("Serial CLOSE");
    // The terminal that used the session is gone with its line: the link ends
    // as a failed session ends, with nothing sent to a port that is not there.
    g_relay.catActive = false;
    DisconnectVAN();
    UpdateLinkText();
    SetTransferState("Serial Open FAIL", kErrorColour);
}

bool RetrySerialPort(bool logFailure) {
    CSerialCommCls* link = CurrentLink();
    if (link == nullptr) return false;
    const int code = OpenFollowingAdapter(*link, true);
    if (code != 0) {
        if (logFailure && RelayLogging()) LogOpenResult(link->PortName(), link->Speed(), code);
        return false;
    }
    g_relay.serialOpen.store(true);
    if (RelayLogging())
        LogOpenResult(link->PortName(), link->Speed(), 0, TakenSpeed(*link, link->Speed(), 0));
    SetTransferState("", kNormalColour);
    UpdateLinkText();
    return true;
}
