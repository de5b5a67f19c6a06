// The COM port against drivers that Wine cannot be: a small fake driver behind
// the port's system calls, one row per way real drivers misbehave, each run
// through the relay as the program runs it (open, the terminal worker reading,
// a write to the terminal, Disconnect). And the line state a real COM port
// takes, read back under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/serial_device.h"
#include "platform/windows/comm_calls.h"
#include "relay/relay_session.h"
#include "relay/relay_state.h"
#include "relay/serial_comm.h"
#include "tests/serial/serial_fixture.h"
#include "tests/support/recording_display.h"

namespace {

// The event a transfer signals: the kernel ignores the low bits of a handle
// (the device sets the lowest to keep completions off the port).
HANDLE EventOf(const OVERLAPPED* ov) {
    return reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(ov->hEvent) & ~ULONG_PTR{3});
}

using Clock = std::chrono::steady_clock;
constexpr ULONG_PTR kPending = 0x103;         // STATUS_PENDING
constexpr ULONG_PTR kCancelled = 0xC0000120;  // STATUS_CANCELLED

int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

bool WaitFor(const std::function<bool()>& pred, int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

enum class Reads { PendUntilCancelled, EndAtOnceEmpty };
enum class Writes { Complete, PendForEver, BlockInsideTheCall };

struct Driver {
    const char* name;
    Reads reads = Reads::PendUntilCancelled;
    Writes writes = Writes::Complete;
    bool cancelNeverCompletes = false;
    bool leftOverState = false;    // fNull, fDsrSensitivity, fErrorChar, XON == XOFF left behind
    bool refusesReserved = false;  // refuses any line state with a reserved bit set, and has one
    bool lineGone = false;         // ClearCommError and GetCommModemStatus fail
    bool closeBlocks = false;      // CloseHandle never returns (until the row ends)
    bool resume = false;           // a resume notice comes while connected
    DWORD reopenBlocksMs = 0;      // CreateFileW after the first takes this long
};

// A driver that does what the row says and records what it was asked.
class FakeDriver : public platform::win::CommCalls {
public:
    explicit FakeDriver(const Driver& d) : m_d(d) {
        m_dcb.DCBlength = sizeof m_dcb;
        m_dcb.BaudRate = 9600;
        m_dcb.ByteSize = 8;
        m_dcb.fBinary = TRUE;
        if (d.leftOverState) {
            m_dcb.fNull = TRUE;
            m_dcb.fDsrSensitivity = TRUE;
            m_dcb.fErrorChar = TRUE;
            m_dcb.ErrorChar = '?';
            m_dcb.EofChar = 0x1A;
            m_dcb.fTXContinueOnXoff = FALSE;
        }
        if (d.refusesReserved) m_dcb.fDummy2 = 1;
    }
    ~FakeDriver() override { CompleteLate(); }

    HANDLE OpenPort(const wchar_t*) override {
        int opens = 0;
        {
            std::lock_guard lock(m_mutex);
            opens = ++m_opens;
        }
        if (opens > 1 && m_d.reopenBlocksMs > 0) Sleep(m_d.reopenBlocksMs);
        return CreateEventW(nullptr, TRUE, FALSE, nullptr);  // a handle to close, nothing more
    }
    BOOL ClosePort(HANDLE port) override {
        if (m_d.closeBlocks) WaitForSingleObject(m_release, 30000);
        return CloseHandle(port);
    }
    void Release() { SetEvent(m_release); }
    BOOL GetState(HANDLE, DCB* dcb) override {
        std::lock_guard lock(m_mutex);
        *dcb = m_dcb;
        return TRUE;
    }
    BOOL SetState(HANDLE, DCB* dcb) override {
        std::lock_guard lock(m_mutex);
        ++m_sets;
        // Some virtual COM drivers refuse XON == XOFF; this one also refuses
        // a reserved bit.
        if (dcb->XonChar == dcb->XoffChar || (m_d.refusesReserved && dcb->fDummy2 != 0)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        m_dcb = *dcb;
        return TRUE;
    }
    BOOL SetTimeouts(HANDLE, COMMTIMEOUTS* t) override {
        std::lock_guard lock(m_mutex);
        m_timeouts = *t;
        return TRUE;
    }
    BOOL Setup(HANDLE, DWORD, DWORD) override { return TRUE; }
    BOOL Purge(HANDLE, DWORD) override { return TRUE; }
    BOOL ClearError(HANDLE, DWORD* errors, COMSTAT*) override { return Answer(errors); }
    BOOL ModemStatus(HANDLE, DWORD* status) override { return Answer(status); }
    BOOL SetMask(HANDLE, DWORD) override { return TRUE; }
    BOOL Escape(HANDLE, DWORD) override { return TRUE; }

    BOOL Read(HANDLE, void* buffer, DWORD count, OVERLAPPED* ov) override {
        std::lock_guard lock(m_mutex);
        ++m_reads;
        if (m_d.reads == Reads::EndAtOnceEmpty) return Done(ov, 0);
        return Pend(ov, buffer, count);
    }
    BOOL Write(HANDLE, const void* buffer, DWORD count, OVERLAPPED* ov) override {
        DWORD backstop = 0;
        {
            std::lock_guard lock(m_mutex);
            ++m_writes;
            if (m_d.writes == Writes::Complete) return Done(ov, count);
            if (m_d.writes == Writes::PendForEver)
                return Pend(ov, const_cast<void*>(buffer), count);
            backstop = m_timeouts.WriteTotalTimeoutConstant;
        }
        // Completes inside the call, after the driver's write time-out; with
        // none it would never return (bounded here so the test itself ends).
        Sleep(backstop > 0 ? backstop : 10000);
        std::lock_guard lock(m_mutex);
        return Done(ov, 0);
    }
    BOOL Result(HANDLE, OVERLAPPED* ov, DWORD* transferred) override {
        std::lock_guard lock(m_mutex);
        if (ov->Internal == kPending) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        *transferred = static_cast<DWORD>(ov->InternalHigh);
        if (ov->Internal == kCancelled) {
            SetLastError(ERROR_OPERATION_ABORTED);
            return FALSE;
        }
        return TRUE;
    }
    BOOL Cancel(HANDLE, OVERLAPPED* ov) override {
        std::lock_guard lock(m_mutex);
        for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
            if (it->ov != ov) continue;
            if (m_d.cancelNeverCompletes) return TRUE;  // taken, and never done
            ov->Internal = kCancelled;
            ov->InternalHigh = 0;
            SetEvent(EventOf(ov));
            m_pending.erase(it);
            return TRUE;
        }
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }

    // What a driver that finally wakes up does: writes into each transfer it
    // still holds and signals it. The program must have kept them alive.
    void CompleteLate() {
        std::lock_guard lock(m_mutex);
        for (const Transfer& t : m_pending) {
            std::memset(t.buffer, 0x55, t.count);
            t.ov->InternalHigh = t.count;
            t.ov->Internal = 0;
            SetEvent(EventOf(t.ov));
        }
        m_pending.clear();
    }

    DCB State() {
        std::lock_guard lock(m_mutex);
        return m_dcb;
    }
    COMMTIMEOUTS Timeouts() {
        std::lock_guard lock(m_mutex);
        return m_timeouts;
    }
    int Reads() {
        std::lock_guard lock(m_mutex);
        return m_reads;
    }
    int Opens() {
        std::lock_guard lock(m_mutex);
        return m_opens;
    }
    int Sets() {
        std::lock_guard lock(m_mutex);
        return m_sets;
    }
    int Writes() {
        std::lock_guard lock(m_mutex);
        return m_writes;
    }
    size_t Pending() {
        std::lock_guard lock(m_mutex);
        return m_pending.size();
    }

private:
    struct Transfer {
        OVERLAPPED* ov;
        void* buffer;
        DWORD count;
    };
    BOOL Answer(DWORD* out) {
        if (out) *out = 0;
        if (!m_d.lineGone) return TRUE;
        SetLastError(ERROR_BAD_COMMAND);
        return FALSE;
    }
    BOOL Done(OVERLAPPED* ov, DWORD n) {
        ov->Internal = 0;
        ov->InternalHigh = n;
        SetEvent(EventOf(ov));
        return TRUE;
    }
    BOOL Pend(OVERLAPPED* ov, void* buffer, DWORD count) {
        ov->Internal = kPending;
        m_pending.push_back({ov, buffer, count});
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }

    Driver m_d;
    std::mutex m_mutex;
    DCB m_dcb{};
    COMMTIMEOUTS m_timeouts{};
    int m_opens = 0;
    int m_sets = 0;
    int m_reads = 0;
    HANDLE m_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // kept: a closer may wait on it
    int m_writes = 0;
    std::vector<Transfer> m_pending;
};

// Every field that could drop, replace or hold back a byte, as the port must
// take it. Wine's serial driver reports only what its terminal settings hold:
// the rest is checked where it is handed over (full).
void ExpectLossless(const DCB& d, const char* name, bool full = true) {
    SCOPED_TRACE(name);
    EXPECT_EQ(d.BaudRate, 115200u);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, NOPARITY);
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    EXPECT_TRUE(d.fBinary);
    EXPECT_FALSE(d.fNull);
    EXPECT_FALSE(d.fDsrSensitivity);
    EXPECT_FALSE(d.fErrorChar);
    EXPECT_FALSE(d.fAbortOnError);
    EXPECT_FALSE(d.fOutX);
    EXPECT_FALSE(d.fInX);
    EXPECT_FALSE(d.fOutxCtsFlow);
    EXPECT_FALSE(d.fOutxDsrFlow);
    EXPECT_EQ(d.XonChar, 0x11);
    EXPECT_EQ(d.XoffChar, 0x13);
    if (!full) return;
    EXPECT_TRUE(d.fTXContinueOnXoff);
    EXPECT_EQ(d.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(d.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(d.ErrorChar, 0);
    EXPECT_EQ(d.EofChar, 0);
    EXPECT_EQ(d.EvtChar, 0);
}

TEST(SerialDriver, EveryDriverGetsALosslessLineNoSpinAndADisconnectWithinThreeSeconds) {
    const Driver drivers[] = {
        {"left-over line state", Reads::PendUntilCancelled, Writes::Complete, false, true},
        {"refuses the line state it reports", Reads::PendUntilCancelled, Writes::Complete, false,
         false, true},
        {"reads end at once with nothing", Reads::EndAtOnceEmpty},
        {"reads end at once with nothing, line gone", Reads::EndAtOnceEmpty, Writes::Complete,
         false, false, false, true},
        {"cancel never completes", Reads::PendUntilCancelled, Writes::PendForEver, true},
        {"synchronous write that blocks", Reads::PendUntilCancelled, Writes::BlockInsideTheCall},
        {"close that blocks for ever", Reads::PendUntilCancelled, Writes::Complete, false, false,
         false, false, true},
        {"resume notice, silent handle", Reads::PendUntilCancelled, Writes::Complete, false, false,
         false, false, false, true},
        {"resume notice, open that blocks 10 s", Reads::PendUntilCancelled, Writes::Complete,
         false, false, false, false, false, true, 10000},
    };
    RecordingDisplay display;
    g_relay.reopenMs = 60000;  // a line that went stays gone for the row
    for (const Driver& d : drivers) {
        SCOPED_TRACE(d.name);
        auto fake = std::make_shared<FakeDriver>(d);
        ASSERT_TRUE(OpenSerialPort(
            "COM99", "115200", [fake] { return std::make_unique<platform::SerialDevice>(fake); }));
        ExpectLossless(fake->State(), d.name);
        // The driver's own write time-out backs up the program's 1000 ms bound.
        const DWORD backstop = fake->Timeouts().WriteTotalTimeoutConstant;
        EXPECT_GT(backstop, 1000u);
        EXPECT_LE(backstop, 2000u);

        RelayWorkers workers;
        const auto started = Clock::now();
        workers.Start(&display);
        std::future<int> write;
        if (d.writes != Writes::Complete) {
            write = std::async(std::launch::async, [] {
                const uint8_t bytes[] = {'H', 'E', 'L', 'L', 'O'};
                return WriteCAT(bytes, 5);
            });
            ASSERT_TRUE(WaitFor([&] { return fake->Writes() >= 1; }, 5000));
        }
        if (d.reads == Reads::EndAtOnceEmpty) {
            // Each empty read sits out its 501 ms: a handful in 2 s, not thousands.
            std::this_thread::sleep_for(std::chrono::milliseconds(2000));
            const int reads = fake->Reads();
            const int64_t ms = MsSince(started);
            EXPECT_LE(reads, ms / 450 + 2) << reads << " reads in " << ms << " ms";
            EXPECT_EQ(g_relay.serialOpen.load(), !d.lineGone)
                << "a run of them asks the line whether it is still there";
        } else {
            const size_t transfers = d.writes == Writes::PendForEver ? 2 : 1;
            ASSERT_TRUE(WaitFor([&] { return fake->Pending() >= transfers; }, 5000));
        }

        if (d.resume) {
            // The line counts as lost: closed, opened again, its state set again.
            g_relay.reopenMs = 100;
            const int sets = fake->Sets();
            NoticeSerialLineLost();
            ASSERT_TRUE(WaitFor([&] { return fake->Opens() >= 2; }, 5000));
            if (d.reopenBlocksMs == 0) {
                EXPECT_TRUE(WaitFor([&] { return g_relay.serialOpen.load(); }, 3000));
                EXPECT_GT(fake->Sets(), sets);
            }
            g_relay.reopenMs = 60000;
        }
        const int reads = fake->Reads();
        const int64_t ranMs = MsSince(started);
        const bool openBefore = g_relay.serialOpen.load();
        const auto t0 = Clock::now();
        StopRelayLinks(workers);
        const int wrote = write.valid() ? write.get() : 1;
        const int64_t disconnectMs = MsSince(t0);
        EXPECT_LT(disconnectMs, 3000);
        EXPECT_EQ(wrote, d.writes == Writes::Complete ? 1 : 0);
        std::printf("driver \"%s\": %d reads in %lld ms, port %s, Disconnect took %lld ms\n",
                    d.name, reads, static_cast<long long>(ranMs), openBefore ? "open" : "let go",
                    static_cast<long long>(disconnectMs));
        // A driver that wakes up late finds its transfers still there.
        fake->CompleteLate();
        fake->Release();
    }
    g_relay.mainWindow = nullptr;
    g_relay.reopenMs = 2000;
}

// The line state handed to a real COM port (the socat pair under Wine), and
// what it reports back.
class SpyCalls : public platform::win::CommCalls {
public:
    HANDLE OpenPort(const wchar_t* path) override { return port = CommCalls::OpenPort(path); }
    BOOL SetState(HANDLE p, DCB* dcb) override {
        const BOOL ok = CommCalls::SetState(p, dcb);
        if (ok) handed = *dcb;
        return ok;
    }
    HANDLE port = nullptr;
    DCB handed{};
};

TEST_F(SerialFixture, RealPortTakesTheLosslessLineState) {
    auto spy = std::make_shared<SpyCalls>();
    ASSERT_TRUE(OpenSerialPort(Path(), "115200",
                               [spy] { return std::make_unique<platform::SerialDevice>(spy); }));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(spy->port, &dcb));
    ExpectLossless(spy->handed, "handed to the COM port");
    ExpectLossless(dcb, "read back from the COM port", false);
}

}  // namespace
