#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_device.h"
#include "platform/windows/comm_calls.h"
#include "platform/windows/handle.h"
#include "platform/windows/text.h"

namespace platform {

namespace win {

HANDLE CommCalls::OpenPort(const wchar_t* path) {
    HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    // A transfer on a handle bound to a completion port belongs to the handle,
    // not to the thread that started it: a worker that gave up on a transfer
    // the driver never completes can still end (otherwise its exit, and the
    // join that waits for it, would wait on the driver). The transfers' events
    // carry the low bit, so nothing is ever queued to the port. The line's
    // handle holds the port as long as it is open, so the port's own handle
    // is closed at once. Where the binding fails the line works as before.
    if (HANDLE completion = CreateIoCompletionPort(h, nullptr, 0, 1)) CloseHandle(completion);
    return h;
}
BOOL CommCalls::ClosePort(HANDLE port) { return CloseHandle(port); }
BOOL CommCalls::GetState(HANDLE port, DCB* dcb) { return GetCommState(port, dcb); }
BOOL CommCalls::SetState(HANDLE port, DCB* dcb) { return SetCommState(port, dcb); }
BOOL CommCalls::SetTimeouts(HANDLE port, COMMTIMEOUTS* t) { return SetCommTimeouts(port, t); }
BOOL CommCalls::Setup(HANDLE port, DWORD in, DWORD out) { return SetupComm(port, in, out); }
BOOL CommCalls::Purge(HANDLE port, DWORD flags) { return PurgeComm(port, flags); }
BOOL CommCalls::ClearError(HANDLE port, DWORD* errors, COMSTAT* stat) {
    return ClearCommError(port, errors, stat);
}
BOOL CommCalls::ModemStatus(HANDLE port, DWORD* status) { return GetCommModemStatus(port, status); }
BOOL CommCalls::SetMask(HANDLE port, DWORD mask) { return SetCommMask(port, mask); }
BOOL CommCalls::Escape(HANDLE port, DWORD function) { return EscapeCommFunction(port, function); }
BOOL CommCalls::Read(HANDLE port, void* buffer, DWORD count, OVERLAPPED* ov) {
    return ReadFile(port, buffer, count, nullptr, ov);
}
BOOL CommCalls::Write(HANDLE port, const void* buffer, DWORD count, OVERLAPPED* ov) {
    return WriteFile(port, buffer, count, nullptr, ov);
}
BOOL CommCalls::Result(HANDLE port, OVERLAPPED* ov, DWORD* transferred) {
    return GetOverlappedResult(port, ov, transferred, FALSE);
}
BOOL CommCalls::Cancel(HANDLE port, OVERLAPPED* ov) { return CancelIoEx(port, ov); }

std::shared_ptr<CommCalls> SystemCommCalls() {
    static const std::shared_ptr<CommCalls> calls = std::make_shared<CommCalls>();
    return calls;
}

}  // namespace win

namespace {

constexpr DWORD kQueueBytes = 50000;
constexpr DWORD kPurgeAll = PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR;
// How long a cancelled read or write may take to complete. Windows promises
// no bound, and after a surprise removal some drivers never complete it.
constexpr DWORD kCancelGraceMs = 1000;
// How long a thread waits for the port's handle to open or close. A dead
// adapter's driver may do its clean-up inside CloseHandle and never return, a
// Bluetooth port's CreateFileW takes seconds: both run on a thread of their
// own, and one that does not return in time is left to it.
constexpr DWORD kCloseWaitMs = 500;
constexpr DWORD kOpenWaitMs = 15000;
// How far past its own time-outs a read may run before it is called off: a
// driver that ignores them must not hold the reader for ever.
constexpr int64_t kReadOverrunMs = 1000;
// The driver's own write time-out, a backstop a little above the longest bound
// the callers give a write (1000 ms): a driver that completes writes
// synchronously, inside WriteFile, still returns.
constexpr DWORD kWriteBackstopMs = 1500;
// Reads that end well ahead of their time with nothing and no error (some
// drivers do this from an unplug on): after this many in a row the line is
// asked whether it is still there.
constexpr int kEarlyEmptyRun = 3;
constexpr int64_t kEarlyMarginMs = 50;

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

// One overlapped transfer: its record, its event and its buffer, which the
// driver writes into until the transfer completes. The buffer is the slot's
// own, never the caller's, so a transfer can be left behind safely.
struct IoSlot {
    OVERLAPPED ov{};
    win::Handle event{NewEvent()};
    std::vector<uint8_t> buffer;
};

// A transfer whose cancel never completed still belongs to the driver: its
// slot is kept, untouched, for the rest of the process. Rare (one per dead
// driver), and never freed under the kernel.
void Abandon(std::unique_ptr<IoSlot> slot) {
    static std::mutex mutex;
    static auto* kept = new std::vector<std::unique_ptr<IoSlot>>;
    std::lock_guard lock(mutex);
    kept->push_back(std::move(slot));
}

// One open or close of a port handle, run on a thread of its own.
struct HandleJob {
    std::mutex mutex;
    bool finished = false;
    bool leftBehind = false;  // the waiter gave up: the thread lets go of what it made
    HANDLE result = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    win::Handle done{NewEvent()};
};

bool ValidHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

// Closes the handle on a thread of its own and waits up to kCloseWaitMs for it.
void CloseOnWorker(const std::shared_ptr<win::CommCalls>& calls, HANDLE h) {
    auto job = std::make_shared<HandleJob>();
    if (job->done.valid()) {
        try {
            std::thread([job, calls, h] {
                calls->ClosePort(h);
                SetEvent(job->done.get());
            }).detach();
            WaitForSingleObject(job->done.get(), kCloseWaitMs);
            return;
        } catch (const std::system_error&) {
            // No thread to be had: closed here, as it always was.
        }
    }
    calls->ClosePort(h);
}

// Opens the path on a thread of its own; waits until it returns, stop is set
// or kOpenWaitMs pass. An open given up on is left to its thread, which closes
// the handle it finally gets. INVALID_HANDLE_VALUE with the error set on failure.
HANDLE OpenOnWorker(const std::shared_ptr<win::CommCalls>& calls, const std::wstring& path,
                    HANDLE stop) {
    auto job = std::make_shared<HandleJob>();
    if (job->done.valid()) {
        try {
            std::thread([job, calls, path] {
                const HANDLE h = calls->OpenPort(path.c_str());
                const DWORD err = GetLastError();
                std::lock_guard lock(job->mutex);
                job->finished = true;
                if (job->leftBehind) {
                    if (ValidHandle(h)) calls->ClosePort(h);
                    return;
                }
                job->result = h;
                job->error = err;
                SetEvent(job->done.get());
            }).detach();
            const HANDLE waits[2] = {job->done.get(), stop};
            WaitForMultipleObjects(stop != nullptr ? 2 : 1, waits, FALSE, kOpenWaitMs);
            std::lock_guard lock(job->mutex);
            if (!job->finished) {
                job->leftBehind = true;
                SetLastError(ERROR_OPERATION_ABORTED);
                return INVALID_HANDLE_VALUE;
            }
            SetLastError(job->error);
            return job->result;
        } catch (const std::system_error&) {
            // No thread to be had: opened here.
        }
    }
    return calls->OpenPort(path.c_str());
}

// Line state that can neither drop, replace nor hold back a byte: binary, no
// NUL stripping, no DSR gate on receive, no error-character replacement, no
// abort on a line error, no XON/XOFF in either direction (and distinct XON and
// XOFF characters, which some drivers insist on even then), no hardware flow
// control, DTR under the program's control and RTS raised.
void SetLosslessFields(DCB& dcb) {
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    dcb.XonLim = 2048;
    dcb.XoffLim = 1024;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
}

void SetFraming(DCB& dcb, const SerialLineSettings& s) {
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
}

}  // namespace

struct SerialDevice::Impl {
    std::shared_ptr<win::CommCalls> calls = win::SystemCommCalls();
    // The port handle, closed through calls; null when none. Changed by the
    // controlling thread under portMutex, which the cancels from other threads
    // take to use it; never held across an open or a close.
    HANDLE port = nullptr;
    std::mutex portMutex;
    // Set by CancelRead: an open waiting on the driver gives up.
    win::Handle stopEvent{NewEvent()};
    // The events a cancel sets so that a wait outside the driver (a failed
    // line's pause, a stuck write's wait) ends at once as well.
    win::Handle readCancelEvent;
    win::Handle writeCancelEvent;
    // The transfers in flight. The reader and the writer own theirs; a cancel
    // from another thread reaches them through the atomic pointers, which
    // always point at a live slot (an abandoned one is kept for ever).
    std::unique_ptr<IoSlot> readOwned;
    std::unique_ptr<IoSlot> writeOwned;
    std::atomic<IoSlot*> readSlot{nullptr};
    std::atomic<IoSlot*> writeSlot{nullptr};
    std::atomic<bool> readCancelled{false};
    std::atomic<bool> writeCancelled{false};
    std::atomic<bool> lost{false};
    int earlyEmpty = 0;  // reader only: empty reads in a row that ended early
    // What the driver's time-outs are set to now; none until the first set.
    SerialReadTiming timing{-1, -1, -1};
    int baud = 0;

    bool Open() const { return port != nullptr && port != INVALID_HANDLE_VALUE; }

    // The handle is swapped out under the lock and closed on a worker; one
    // the driver holds on to is left to that worker, never used again.
    void ClosePort() {
        HANDLE h = nullptr;
        {
            std::lock_guard lock(portMutex);
            std::swap(h, port);
        }
        if (ValidHandle(h)) CloseOnWorker(calls, h);
    }

    void SetTimeouts(const SerialReadTiming& t) {
        // Read: interval, per byte, constant. Write: the backstop only; the
        // program bounds its writes itself.
        COMMTIMEOUTS ct{};
        ct.ReadIntervalTimeout = static_cast<DWORD>(t.intervalMs);
        ct.ReadTotalTimeoutMultiplier = static_cast<DWORD>(t.totalPerByteMs);
        ct.ReadTotalTimeoutConstant = static_cast<DWORD>(t.totalConstMs);
        ct.WriteTotalTimeoutMultiplier = 0;
        ct.WriteTotalTimeoutConstant = kWriteBackstopMs;
        calls->SetTimeouts(port, &ct);
        timing = t;
    }

    // Decides whether a failed call means the device has gone. A removal error
    // does; so does any failure after which the port no longer answers
    // ClearCommError. An abort that was not ours with the port still answering
    // is a line error the driver reported (cleared by the call), not a removal.
    void JudgeFailure(DWORD err) {
        DWORD errors = 0;
        const bool answers = calls->ClearError(port, &errors, nullptr) != FALSE;
        if (RemovalError(err) || !answers) lost.store(true);
    }

    // A line that keeps ending reads early with nothing: gone when it no longer
    // answers for its error state, or its modem lines fail with a removal error
    // (a port without modem lines, a pseudo-terminal under Wine among them,
    // refuses them for ever while it works).
    void CheckQuietLine() {
        DWORD errors = 0;
        DWORD modem = 0;
        if (!calls->ClearError(port, &errors, nullptr)) {
            lost.store(true);
        } else if (!calls->ModemStatus(port, &modem) && RemovalError(GetLastError())) {
            lost.store(true);
        }
    }

    IoSlot& Slot(std::unique_ptr<IoSlot>& owned, std::atomic<IoSlot*>& current, size_t bytes) {
        if (!owned || !owned->event.valid()) {
            // The new slot is current before the old one goes: a cancel from
            // another thread never reaches a freed slot.
            auto fresh = std::make_unique<IoSlot>();
            current.store(fresh.get());
            owned = std::move(fresh);
        }
        if (owned->buffer.size() < bytes) owned->buffer.resize(bytes);
        owned->ov = OVERLAPPED{};
        // The low bit: signal the event, queue nothing to the line's completion port.
        owned->ov.hEvent =
            reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(owned->event.get()) | 1);
        ResetEvent(owned->event.get());
        return *owned;
    }

    // Calls off a transfer and gives it kCancelGraceMs to complete. One that
    // does not is left to the driver with its slot, and the line counts as
    // lost (the worker then lets go of the handle). True when it completed.
    bool CancelAndSettle(std::unique_ptr<IoSlot>& owned) {
        calls->Cancel(port, &owned->ov);
        if (WaitForSingleObject(owned->event.get(), kCancelGraceMs) == WAIT_OBJECT_0) return true;
        lost.store(true);
        Abandon(std::move(owned));
        return false;
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

SerialDevice::SerialDevice(std::shared_ptr<win::CommCalls> calls) : SerialDevice() {
    if (calls) m_impl->calls = std::move(calls);
}

SerialDevice::~SerialDevice() { Close(); }

void SerialDevice::SetError(SerialErrorKind kind, int code, std::string text) {
    m_error = SerialError{kind, code, std::move(text)};
}

bool SerialDevice::IsOpen() const { return m_impl->Open(); }

bool SerialDevice::Open(const std::string& path) {
    // A device that holds nothing keeps a cancel that came before the open.
    if (IsOpen()) Close();
    return OpenLine(path);
}

void SerialDevice::DropLine() {
    m_impl->ClosePort();
    m_impl->timing = SerialReadTiming{-1, -1, -1};
    m_impl->baud = 0;
    m_impl->earlyEmpty = 0;
}

bool SerialDevice::Reopen(const std::string& path) {
    DropLine();
    return OpenLine(path);
}

bool SerialDevice::LineLost() const { return m_impl->lost.load(); }

bool SerialDevice::OpenLine(const std::string& path) {
    Impl& d = *m_impl;
    m_error = {};
    d.lost.store(false);
    if (path.empty()) {
        SetError(SerialErrorKind::InvalidArgument, 0, "no device path");
        return false;
    }
    HANDLE h = INVALID_HANDLE_VALUE;
    if (d.readCancelled.load()) {
        SetLastError(ERROR_OPERATION_ABORTED);
    } else {
        h = OpenOnWorker(d.calls, win::Wide(path), d.stopEvent.get());
    }
    if (!ValidHandle(h)) {
        const DWORD err = GetLastError();
        const bool busy = err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION;
        SetError(busy ? SerialErrorKind::Busy : SerialErrorKind::Os, static_cast<int>(err),
                 "open " + path + ": " + win::ErrorText(err));
        return false;
    }
    {
        std::lock_guard lock(d.portMutex);
        d.port = h;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!d.calls->GetState(h, &dcb)) {
        const DWORD err = GetLastError();
        SetError(SerialErrorKind::Os, static_cast<int>(err),
                 path + " is no serial line: " + win::ErrorText(err));
        d.ClosePort();
        return false;
    }
    d.baud = static_cast<int>(dcb.BaudRate);
    d.earlyEmpty = 0;
    d.SetTimeouts(SerialReadTiming{});
    m_path = path;
    return true;
}

bool SerialDevice::CreateReadWakeup() {
    std::lock_guard lock(m_impl->portMutex);
    if (!m_impl->readCancelEvent.valid()) m_impl->readCancelEvent.Reset(NewEvent());
    return m_impl->readCancelEvent.valid();
}

bool SerialDevice::CreateWriteWakeup() {
    std::lock_guard lock(m_impl->portMutex);
    if (!m_impl->writeCancelEvent.valid()) m_impl->writeCancelEvent.Reset(NewEvent());
    return m_impl->writeCancelEvent.valid();
}

void SerialDevice::Configure(const SerialLineSettings& s) {
    if (!IsOpen()) return;
    Impl& d = *m_impl;
    HANDLE port = d.port;
    DWORD errors = 0;
    d.calls->ClearError(port, &errors, nullptr);
    d.calls->Setup(port, kQueueBytes, kQueueBytes);
    d.calls->Purge(port, kPurgeAll);
    d.SetTimeouts(SerialReadTiming{});

    // Drivers keep their line state across opens: whatever another program
    // left in it (a NUL filter, a DSR gate) is set right here.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool known = d.calls->GetState(port, &dcb) != FALSE;
    const DWORD driverRate = dcb.BaudRate;
    SetFraming(dcb, s);
    SetLosslessFields(dcb);
    if (!d.calls->SetState(port, &dcb)) {
        // Refused, perhaps for a left-over field this program does not know
        // (some drivers refuse their own XON == XOFF): once more from a line
        // state made from nothing, with the same rate and framing.
        DCB fresh{};
        fresh.DCBlength = sizeof fresh;
        fresh.BaudRate = dcb.BaudRate;
        fresh.ByteSize = known ? dcb.ByteSize : 8;
        fresh.Parity = dcb.Parity;
        fresh.StopBits = dcb.StopBits;
        SetLosslessFields(fresh);
        if (!d.calls->SetState(port, &fresh) && s.baud > 0 && known) {
            // Not at this rate either: the driver's rate stays, the rest is set.
            fresh.BaudRate = driverRate;
            d.calls->SetState(port, &fresh);
        }
    }
    d.calls->SetMask(port, EV_RXCHAR);
    DCB now{};
    now.DCBlength = sizeof now;
    if (d.calls->GetState(port, &now)) d.baud = static_cast<int>(now.BaudRate);
}

void SerialDevice::Purge() {
    if (IsOpen()) m_impl->calls->Purge(m_impl->port, kPurgeAll);
}

void SerialDevice::PurgeOutput() {
    if (IsOpen()) m_impl->calls->Purge(m_impl->port, PURGE_TXCLEAR);
}

bool SerialDevice::SetDtr(bool on) {
    return IsOpen() && m_impl->calls->Escape(m_impl->port, on ? SETDTR : CLRDTR) != FALSE;
}

bool SerialDevice::SetRts(bool on) {
    return IsOpen() && m_impl->calls->Escape(m_impl->port, on ? SETRTS : CLRRTS) != FALSE;
}

int SerialDevice::CurrentBaud() const {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!IsOpen() || !m_impl->calls->GetState(m_impl->port, &dcb)) return -1;
    return static_cast<int>(dcb.BaudRate);
}

int SerialDevice::CurrentDataBits() const {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!IsOpen() || !m_impl->calls->GetState(m_impl->port, &dcb)) return -1;
    return dcb.ByteSize;
}

int SerialDevice::Read(uint8_t* dst, int count, const SerialReadTiming& timing) {
    if (dst == nullptr || count <= 0 || !IsOpen()) return -1;
    Impl& d = *m_impl;
    if (d.readCancelled.load()) return 0;
    if (!CreateReadWakeup()) return -1;
    HANDLE port = d.port;
    const int64_t start = MonotonicMs();
    const int64_t total = timing.totalConstMs + static_cast<int64_t>(count) * timing.totalPerByteMs;
    if (!SameTiming(timing, d.timing)) d.SetTimeouts(timing);

    IoSlot& slot = d.Slot(d.readOwned, d.readSlot, static_cast<size_t>(count));
    if (!slot.event.valid()) return -1;
    DWORD got = 0;
    bool failed = false;
    bool settled = true;
    if (!d.calls->Read(port, slot.buffer.data(), static_cast<DWORD>(count), &slot.ov)) {
        const DWORD err = GetLastError();
        if (err != ERROR_IO_PENDING) {
            failed = true;
            d.JudgeFailure(err);
        } else {
            // A cancel that came between the check above and the start of this
            // read has found nothing to cancel; this read cancels itself.
            if (d.readCancelled.load()) d.calls->Cancel(port, &slot.ov);
            // The driver ends the read by its time-outs; the wait outlasts them
            // a little, so a driver that ignores them is called off as well.
            const HANDLE waits[2] = {slot.event.get(), d.readCancelEvent.get()};
            const DWORD r =
                WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(total + kReadOverrunMs));
            if (r != WAIT_OBJECT_0) settled = d.CancelAndSettle(d.readOwned);
            if (settled && !d.calls->Result(port, &slot.ov, &got)) {
                const DWORD err = GetLastError();
                // Windows ends a timed-out read with success and 0 bytes, Wine
                // with ERROR_TIMEOUT; a cancel ends it with ERROR_OPERATION_ABORTED.
                // Both keep the bytes that had come.
                got = static_cast<DWORD>(slot.ov.InternalHigh);
                if (err == ERROR_OPERATION_ABORTED && !d.readCancelled.load() &&
                    r == WAIT_OBJECT_0) {
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
        d.calls->Result(port, &slot.ov, &got);
    }
    if (!settled) {
        // Left to the driver: the line is lost and the worker lets go of it.
        failed = true;
        got = 0;
    }
    got = std::min<DWORD>(got, static_cast<DWORD>(count));
    if (got > 0) {
        d.earlyEmpty = 0;
        std::copy_n(slot.buffer.data(), got, dst);
        return static_cast<int>(got);
    }
    if (d.readCancelled.load()) return 0;
    const int64_t left = start + total - MonotonicMs();
    if (!failed) {
        // Nothing came. A read that ended well ahead of its time (some drivers
        // do this at an unplug, and keep doing it) sits out the rest of it,
        // and a run of them asks the line whether it is still there.
        if (left > kEarlyMarginMs) {
            if (++d.earlyEmpty >= kEarlyEmptyRun) {
                d.earlyEmpty = 0;
                d.CheckQuietLine();
            }
        } else {
            d.earlyEmpty = 0;
        }
    }
    // Sit out the time an idle read would take, so a caller that retries a
    // dead line (a pulled adapter) paces itself instead of spinning; a cancel
    // still ends it.
    if (left > 0) WaitForSingleObject(d.readCancelEvent.get(), static_cast<DWORD>(left));
    return failed ? -1 : 0;
}

bool SerialDevice::Write(const uint8_t* src, int count, int timeoutMs) {
    if (!IsOpen() || count < 0 || (src == nullptr && count > 0)) return false;
    if (count == 0) return true;
    Impl& d = *m_impl;
    if (d.writeCancelled.load()) return false;
    if (!CreateWriteWakeup()) return false;
    HANDLE port = d.port;
    DWORD errors = 0;
    d.calls->ClearError(port, &errors, nullptr);

    // Written in pieces that the line moves in well under the time-out at its
    // rate: a piece that completes is progress, so a slow line that keeps
    // draining gets all of its bytes, and only a line that takes nothing for
    // timeoutMs is given up.
    const int piece = d.baud > 0 ? std::clamp(d.baud / 20, 16, 4096) : 4096;
    int done = 0;
    bool stuck = false;
    while (done < count && !stuck && !d.lost.load()) {
        const DWORD n = static_cast<DWORD>(std::min(piece, count - done));
        IoSlot& slot = d.Slot(d.writeOwned, d.writeSlot, n);
        if (!slot.event.valid()) break;
        std::copy_n(src + done, n, slot.buffer.data());
        DWORD written = 0;
        if (d.calls->Write(port, slot.buffer.data(), n, &slot.ov)) {
            d.calls->Result(port, &slot.ov, &written);
        } else if (GetLastError() == ERROR_IO_PENDING) {
            if (d.writeCancelled.load()) d.calls->Cancel(port, &slot.ov);
            const HANDLE waits[2] = {slot.event.get(), d.writeCancelEvent.get()};
            const DWORD r = WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(timeoutMs));
            bool settled = true;
            if (r != WAIT_OBJECT_0) {
                // Stuck (or cancelled): the write is called off, and waited for
                // (a bounded time), before its record is used again.
                stuck = true;
                settled = d.CancelAndSettle(d.writeOwned);
            }
            if (settled && !d.calls->Result(port, &slot.ov, &written)) {
                const DWORD err = GetLastError();
                written = static_cast<DWORD>(slot.ov.InternalHigh);
                stuck = true;
                if (err != ERROR_OPERATION_ABORTED || !d.writeCancelled.load()) d.JudgeFailure(err);
            }
            if (!settled) break;
        } else {
            d.JudgeFailure(GetLastError());
            stuck = true;
        }
        done += static_cast<int>(std::min(written, n));
        if (written == 0) stuck = true;
    }
    if (d.lost.load()) return false;
    d.calls->ClearError(port, &errors, nullptr);
    if (done == count) return true;
    // What is still queued is stale; it is dropped so that nothing of it
    // trails into the next write, which then reaches the terminal whole.
    PurgeOutput();
    return false;
}

void SerialDevice::CancelRead() {
    Impl& d = *m_impl;
    d.readCancelled.store(true);
    if (d.stopEvent.valid()) SetEvent(d.stopEvent.get());
    std::lock_guard lock(d.portMutex);
    if (d.readCancelEvent.valid()) SetEvent(d.readCancelEvent.get());
    if (IoSlot* slot = d.readSlot.load(); slot != nullptr && d.Open())
        d.calls->Cancel(d.port, &slot->ov);
}

void SerialDevice::CancelWrite() {
    Impl& d = *m_impl;
    d.writeCancelled.store(true);
    std::lock_guard lock(d.portMutex);
    if (d.writeCancelEvent.valid()) SetEvent(d.writeCancelEvent.get());
    if (IoSlot* slot = d.writeSlot.load(); slot != nullptr && d.Open())
        d.calls->Cancel(d.port, &slot->ov);
}

void SerialDevice::Close() {
    Impl& d = *m_impl;
    // No transfer of ours is in flight here (the callers' contract); one that
    // was left to the driver keeps its slot, so closing the handle is safe.
    d.ClosePort();
    d.readSlot.store(nullptr);
    d.writeSlot.store(nullptr);
    d.readOwned.reset();
    d.writeOwned.reset();
    {
        std::lock_guard lock(d.portMutex);
        d.readCancelEvent.Reset();
        d.writeCancelEvent.Reset();
    }
    d.readCancelled.store(false);
    d.writeCancelled.store(false);
    if (d.stopEvent.valid()) ResetEvent(d.stopEvent.get());
    d.lost.store(false);
    d.earlyEmpty = 0;
    d.timing = SerialReadTiming{-1, -1, -1};
    d.baud = 0;
    m_path.clear();
}

}  // namespace platform
