// Port names as Linux device paths, and a line that goes away under the
// gateway (a pseudo-terminal whose master closes): Linux only.
#include <gtest/gtest.h>

#include <ctime>

#include "platform/serial_device.h"
#include "tests/serial/serial_timing.h"

namespace {

TEST(SerialPortNames, ComNamesMapToTtySAndPathsStand) {
    const struct {
        const char* name;
        const char* path;
    } cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"COM3", "/dev/ttyS2"},
        {"COM20", "/dev/ttyS19"},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"COM0", "COM0"},
        {"COM", "COM"},
        {"COM3x", "COM3x"},
        {"com3", "com3"},
        {"COM99999999999", "COM99999999999"},
    };
    for (const auto& c : cases) EXPECT_EQ(SerialDevicePath(c.name), c.path) << c.name;
}

TEST_F(SerialTiming, UnpluggedLineFailsWithoutSpinning) {
    m_cat->Hangup();  // the slave now reports a hang-up and EIO, as an unplugged adapter does
    const std::clock_t cpu0 = std::clock();
    auto r = ReadAsync(1).get();
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
    EXPECT_EQ(r.result, -1);
    EXPECT_GE(r.ms, 450) << "a failing read must take as long as an idle one";
    EXPECT_LT(cpuMs, 150.0) << "the failing read spun";

    // ...and a stop still ends such a read at once.
    std::promise<void> started;
    auto f = ReadAsync(2049, &started);
    started.get_future().wait();
    m_cat->Silence(30);
    const auto cancelledAt = Clock::now();
    CancelCATRead();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    f.get();
    EXPECT_LT(MsSince(cancelledAt), 100);

    EXPECT_EQ(WriteCAT(reinterpret_cast<const uint8_t*>("x"), 1), 0);
}

// The quiet gap is timed finely: no buffer ever ends before 100 ms of quiet
// after its last byte (measured from just before the write, so a test thread
// that loses the processor cannot make a read look early).
TEST_F(SerialTiming, QuietGapIsNeverCutShort) {
    for (int i = 0; i < 15; ++i) {
        std::promise<void> started;
        auto f = ReadAsync(2048, &started);
        started.get_future().wait();
        const auto beforeLastByte = Clock::now();
        ASSERT_TRUE(m_cat->Send("AB"));
        ASSERT_EQ(f.get().bytes, "AB");
        EXPECT_GE(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - beforeLastByte)
                .count(),
            100000);
    }
}

// The termios2 rates: any rate the table names, the odd PCI_ ones included.
TEST_F(SerialFixture, SpeedTextsSetTheLineRateOrKeepTheDrivers) {
    // Each open starts from a fresh object; "4000" is not in the table, so the
    // rate set by the open before it stays.
    const struct {
        const char* speed;
        int expected;
    } steps[] = {{"28800", 38400}, {"PCI_500K", 56000}, {"19200", 19200},
                 {"4000", 19200},  {"115200", 115200},  {"PCI_9600", 1075}};
    for (const auto& s : steps) {
        ASSERT_TRUE(OpenSerialPort(Path(), s.speed)) << s.speed;
        EXPECT_EQ(g_relay.serialLink.load()->Device().CurrentBaud(), s.expected) << s.speed;
        CloseSerialPort();
    }
}

}  // namespace
