#include <windows.h>

#include <algorithm>
#include <atomic>

#include "platform/clock.h"
#include "platform/serial_device.h"
#include "platform/windows/handle.h"
#include "platform/windows/text.h"

namespace platform {

namespace {

constexpr DWORD kQueueBytes = 50000;
constexpr DWORD kPurgeAll = PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR;

// A manual-reset event, not signalled, unnamed.
HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

constexpr DWORD kErrorNoSuchDevice = 433;  // ERROR_NO_SUCH_DEVICE, missing from MinGW's headers

// Errors with which a driver fails every call on a port whose device has gone
// (a pulled USB adapter): the handle stays, but nothing works on it any more.
bool RemovalError(DWORD err) {
    switch (err) {
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case kErrorNoSuchDevice:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_GEN_FAILURE:
        case ERROR_INVALID_HANDLE:
        case ERROR_NOT_READY:
        case ERROR_FILE_NOT_FOUND:
            return true;
        default:
            return false;
    }
}

bool SameTiming(const SerialReadTiming& a, const SerialReadTiming& b) {
    return a.intervalMs == b.intervalMs && a.totalConstMs == b.totalConstMs &&
           a.totalPerByteMs == b.totalPerByteMs;
}

}  // namespace

struct SerialDevice::Impl {
    win::Handle port;
    // The overlapped events of reads and writes, and the events a cancel sets
    // so that a wait outside the driver (a failed line's pause, a stuck
    // write's wait) ends at once as well.
    win::Handle readEvent;
    win::Handle readCancelEvent;
    win::Handle writeEvent;
    win::Handle writeCancelEvent;
    OVERLAPPED readOv{};
    OVERLAPPED writeOv{};
    std::atomic<bool> readCancelled{false};
    std::atomic<bool> writeCancelled{false};
    std::atomic<bool> lost{false};
    // What the driver's time-outs are set to now; none until the first set.
    SerialReadTiming timing{-1, -1, -1};
    int baud = 0;

    void SetTimeouts(const SerialReadTiming& t) {
        // Read: interval, per byte, constant; writes have no driver time-out.
        COMMTIMEOUTS ct{};
        ct.ReadIntervalTimeout = static_cast<DWORD>(t.intervalMs);
        ct.ReadTotalTimeoutMultiplier = static_cast<DWORD>(t.totalPerByteMs);
        ct.ReadTotalTimeoutConstant = static_cast<DWORD>(t.totalConstMs);
        ct.WriteTotalTimeoutMultiplier = 0;
        ct.WriteTotalTimeoutConstant = 0;
        SetCommTimeouts(port.get(), &ct);
        timing = t;
    }

    // Decides whether a failed call means the device has gone. A removal error
    // does; so does any failure after which the port no longer answers
    // ClearCommError. An abort that was not ours with the port still answering
    // is a line error the driver reported (cleared by the call), not a removal.
    void JudgeFailure(DWORD err) {
        DWORD errors = 0;
        const bool answers = ClearCommError(port.get(), &errors, nullptr) != FALSE;
        if (RemovalError(err) || !answers) lost.store(true);
    }
};

std::string SerialDevicePath(const std::string& portName) {
    if (portName.size() > 3 && portName.size() <= 8 && portName.compare(0, 3, "COM") == 0 &&
        std::all_of(portName.begin() + 3, portName.end(),
                    [](char c) { return c >= '0' && c <= '9'; }) &&
        portName.find_first_not_of('0', 3) != std::string::npos) {
        return "\\\\.\\" + portName;
    }
    return portName;
}

SerialDevice::SerialDevice() : m_impl(std::make_unique<Impl>()) {}

SerialDevice::~SerialDevice() { Close(); }

void SerialDevice::SetError(SerialErrorKind kind, int code, std::string text) {
    m_error = SerialError{kind, code, std::move(text)};
}

bool SerialDevice::IsOpen() const { return m_impl->port.valid(); }

bool SerialDevice::Open(const std::string& path) {
    Close();
    return OpenLine(path);
}

void SerialDevice::DropLine() {
    m_impl->port.Reset();
    m_impl->timing = SerialReadTiming{-1, -1, -1};
    m_impl->baud = 0;
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
    // Read and write, no sharing, overlapped.
    HANDLE h = CreateFileW(win::Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        const bool busy = err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION;
        SetError(busy ? SerialErrorKind::Busy : SerialErrorKind::Os, static_cast<int>(err),
                 "open " + path + ": " + win::ErrorText(err));
        return false;
    }
    win::Handle port(h);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port.get(), &dcb)) {
        const DWORD err = GetLastError();
        SetError(SerialErrorKind::Os, static_cast<int>(err),
                 path + " is no serial line: " + win::ErrorText(err));
        return false;
    }
    m_impl->port = std::move(port);
    m_impl->baud = static_cast<int>(dcb.BaudRate);
    m_impl->SetTimeouts(SerialReadTiming{});
    m_path = path;
    return true;
}

bool SerialDevice::CreateReadWakeup() {
    if (!m_impl->readEvent.valid()) m_impl->readEvent.Reset(NewEvent());
    if (!m_impl->readCancelEvent.valid()) m_impl->readCancelEvent.Reset(NewEvent());
    return m_impl->readEvent.valid() && m_impl->readCancelEvent.valid();
}

bool SerialDevice::CreateWriteWakeup() {
    if (!m_impl->writeEvent.valid()) m_impl->writeEvent.Reset(NewEvent());
    if (!m_impl->writeCancelEvent.valid()) m_impl->writeCancelEvent.Reset(NewEvent());
    return m_impl->writeEvent.valid() && m_impl->writeCancelEvent.valid();
}

void SerialDevice::Configure(const SerialLineSettings& s) {
    if (!IsOpen()) return;
    HANDLE port = m_impl->port.get();
    DWORD errors = 0;
    ClearCommError(port, &errors, nullptr);
    SetupComm(port, kQueueBytes, kQueueBytes);
    PurgeComm(port, kPurgeAll);
    m_impl->SetTimeouts(SerialReadTiming{});

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) return;
    const DWORD driverRate = dcb.BaudRate;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    if (s.baud > 0) dcb.BaudRate = static_cast<DWORD>(s.baud);
    switch (s.parity) {
        case SerialParity::None:
            dcb.Parity = NOPARITY;
            break;
        case SerialParity::Odd:
            dcb.Parity = ODDPARITY;
            break;
        case SerialParity::Even:
            dcb.Parity = EVENPARITY;
            break;
        case SerialParity::Keep:
            break;
    }
    if (s.dataBits == 7 || s.dataBits == 8) dcb.ByteSize = static_cast<BYTE>(s.dataBits);
    switch (s.stopBits) {
        case SerialStopBits::One:
            dcb.StopBits = ONESTOPBIT;
            break;
        case SerialStopBits::OneAndHalf:
            dcb.StopBits = ONE5STOPBITS;
            break;
        case SerialStopBits::Two:
            dcb.StopBits = TWOSTOPBITS;
            break;
        case SerialStopBits::Keep:
            break;
    }
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    // A framing or overrun error must not abort every later read until it is
    // cleared: such an abort would look like a pulled adapter.
    dcb.fAbortOnError = FALSE;
    dcb.XonLim = 2048;
    dcb.XoffLim = 1024;
    if (!SetCommState(port, &dcb) && s.baud > 0) {
        // The driver refused the rate (or a setting): keep its rate, apply the rest.
        dcb.BaudRate = driverRate;
        SetCommState(port, &dcb);
    }
    SetCommMask(port, EV_RXCHAR);
    DCB now{};
    now.DCBlength = sizeof now;
    if (GetCommState(port, &now)) m_impl->baud = static_cast<int>(now.BaudRate);
}

void SerialDevice::Purge() {
    if (IsOpen()) PurgeComm(m_impl->port.get(), kPurgeAll);
}

void SerialDevice::PurgeOutput() {
    if (IsOpen()) PurgeComm(m_impl->port.get(), PURGE_TXCLEAR);
}

bool SerialDevice::SetDtr(bool on) {
    return IsOpen() && EscapeCommFunction(m_impl->port.get(), on ? SETDTR : CLRDTR) != FALSE;
}

bool SerialDevice::SetRts(bool on) {
    return IsOpen() && EscapeCommFunction(m_impl->port.get(), on ? SETRTS : CLRRTS) != FALSE;
}

int SerialDevice::CurrentBaud() const {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!IsOpen() || !GetCommState(m_impl->port.get(), &dcb)) return -1;
    return static_cast<int>(dcb.BaudRate);
}

int SerialDevice::CurrentDataBits() const {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!IsOpen() || !GetCommState(m_impl->port.get(), &dcb)) return -1;
    return dcb.ByteSize;
}

int SerialDevice::Read(uint8_t* dst, int count, const SerialReadTiming& timing) {
    if (dst == nullptr || count <= 0 || !IsOpen()) return -1;
    Impl& d = *m_impl;
    if (d.readCancelled.load()) return 0;
    if (!CreateReadWakeup()) return -1;
    HANDLE port = d.port.get();
    const int64_t start = MonotonicMs();
    const int64_t total = timing.totalConstMs + static_cast<int64_t>(count) * timing.totalPerByteMs;
    if (!SameTiming(timing, d.timing)) d.SetTimeouts(timing);

    d.readOv = OVERLAPPED{};
    d.readOv.hEvent = d.readEvent.get();
    ResetEvent(d.readOv.hEvent);
    DWORD got = 0;
    bool failed = false;
    if (!ReadFile(port, dst, static_cast<DWORD>(count), nullptr, &d.readOv)) {
        const DWORD err = GetLastError();
        if (err != ERROR_IO_PENDING) {
            failed = true;
            d.JudgeFailure(err);
        } else {
            // A cancel that came between the check above and the start of this
            // read has found nothing to cancel; this read cancels itself.
            if (d.readCancelled.load()) CancelIoEx(port, &d.readOv);
            if (!GetOverlappedResult(port, &d.readOv, &got, TRUE)) {
                const DWORD err = GetLastError();
                // Windows ends a timed-out read with success and 0 bytes, Wine
                // with ERROR_TIMEOUT; a cancel ends it with ERROR_OPERATION_ABORTED.
                // Both keep the bytes that had come.
                got = static_cast<DWORD>(d.readOv.InternalHigh);
                if (err == ERROR_OPERATION_ABORTED && !d.readCancelled.load()) {
                    // Not our cancel: the driver gave up on the read.
                    failed = true;
                    d.JudgeFailure(err);
                } else if (err != ERROR_TIMEOUT && err != ERROR_OPERATION_ABORTED) {
                    failed = true;
                    d.JudgeFailure(err);
                }
            }
        }
    } else {
        GetOverlappedResult(port, &d.readOv, &got, FALSE);
    }
    if (got > 0) return static_cast<int>(std::min<DWORD>(got, static_cast<DWORD>(count)));
    if (!failed || d.readCancelled.load()) return 0;
    DWORD errors = 0;
    ClearCommError(port, &errors, nullptr);
    // Sit out the time an idle read would take, so a caller that retries a
    // dead line (a pulled adapter) paces itself instead of spinning; a cancel
    // still ends it.
    const int64_t left = start + total - MonotonicMs();
    if (left > 0) WaitForSingleObject(d.readCancelEvent.get(), static_cast<DWORD>(left));
    return -1;
}

bool SerialDevice::Write(const uint8_t* src, int count, int timeoutMs) {
    if (!IsOpen() || count < 0 || (src == nullptr && count > 0)) return false;
    if (count == 0) return true;
    Impl& d = *m_impl;
    if (d.writeCancelled.load()) return false;
    if (!CreateWriteWakeup()) return false;
    HANDLE port = d.port.get();
    DWORD errors = 0;
    ClearCommError(port, &errors, nullptr);

    // Written in pieces that the line moves in well under the time-out at its
    // rate: a piece that completes is progress, so a slow line that keeps
    // draining gets all of its bytes, and only a line that takes nothing for
    // timeoutMs is given up.
    const int piece = d.baud > 0 ? std::clamp(d.baud / 20, 16, 4096) : 4096;
    int done = 0;
    bool stuck = false;
    while (done < count && !stuck) {
        const DWORD n = static_cast<DWORD>(std::min(piece, count - done));
        d.writeOv = OVERLAPPED{};
        d.writeOv.hEvent = d.writeEvent.get();
        ResetEvent(d.writeOv.hEvent);
        DWORD written = 0;
        if (WriteFile(port, src + done, n, nullptr, &d.writeOv)) {
            GetOverlappedResult(port, &d.writeOv, &written, FALSE);
        } else if (GetLastError() == ERROR_IO_PENDING) {
            if (d.writeCancelled.load()) CancelIoEx(port, &d.writeOv);
            const HANDLE waits[2] = {d.writeEvent.get(), d.writeCancelEvent.get()};
            const DWORD r = WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(timeoutMs));
            if (r != WAIT_OBJECT_0) {
                // Stuck (or cancelled): the write is called off, and waited for,
                // before its record is used again.
                CancelIoEx(port, &d.writeOv);
                stuck = true;
            }
            if (!GetOverlappedResult(port, &d.writeOv, &written, TRUE)) {
                const DWORD err = GetLastError();
                stuck = true;
                if (err != ERROR_OPERATION_ABORTED || !d.writeCancelled.load()) d.JudgeFailure(err);
            }
        } else {
            d.JudgeFailure(GetLastError());
            stuck = true;
        }
        done += static_cast<int>(written);
        if (written == 0) stuck = true;
    }
    ClearCommError(port, &errors, nullptr);
    if (done == count) return true;
    // What is still queued is stale; it is dropped so that nothing of it
    // trails into the next write, which then reaches the terminal whole.
    PurgeOutput();
    return false;
}

void SerialDevice::CancelRead() {
    Impl& d = *m_impl;
    d.readCancelled.store(true);
    if (d.readCancelEvent.valid()) SetEvent(d.readCancelEvent.get());
    if (d.port.valid()) CancelIoEx(d.port.get(), &d.readOv);
}

void SerialDevice::CancelWrite() {
    Impl& d = *m_impl;
    d.writeCancelled.store(true);
    if (d.writeCancelEvent.valid()) SetEvent(d.writeCancelEvent.get());
    if (d.port.valid()) CancelIoEx(d.port.get(), &d.writeOv);
}

void SerialDevice::Close() {
    Impl& d = *m_impl;
    d.port.Reset();
    d.readEvent.Reset();
    d.readCancelEvent.Reset();
    d.writeEvent.Reset();
    d.writeCancelEvent.Reset();
    d.readCancelled.store(false);
    d.writeCancelled.store(false);
    d.lost.store(false);
    d.timing = SerialReadTiming{-1, -1, -1};
    d.baud = 0;
    m_path.clear();
}

}  // namespace platform
