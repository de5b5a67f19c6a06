#include <gtest/gtest.h>

#include <string>

#include "platform/serial_device.h"
#include "tests/serial/serial_fixture.h"

namespace {

using Line = RecordingDisplay::Line;

TEST(SerialSpeedTable, TextsMapToRates) {
    const struct {
        const char* text;
        int baud;
    } cases[] = {
        {"300", 300},
        {"9600", 9600},
        {"14400", 14400},
        {"28800", 38400},
        {"33600", 38400},
        {"38400", 38400},
        {"56000", 56000},
        {"57600", 57600},
        {"115200", 115200},
        {"256000", 256000},
        {"PCI_9600", 1075},
        {"PCI_19200", 2212},
        {"PCI_38400", 4300},
        {"PCI_57600", 6450},
        {"PCI_500K", 56000},
        // Not in the table: the driver's rate stays.
        {"4000", 0},
        {"", 0},
        {"pci_500k", 0},
        {"9600 ", 0},
        {"096OO", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(SpeedTextToBaud(c.text), c.baud) << c.text;
}

TEST_F(SerialFixture, OpenConfiguresLineAndReportsSuccess) {
    ASSERT_TRUE(OpenSerialPort(Path(), "9600"));
    EXPECT_TRUE(g_relay.serialOpen.load());
    CSerialCommCls* link = g_relay.serialLink.load();
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->Device().CurrentBaud(), 9600);
    EXPECT_EQ(link->Device().CurrentDataBits(), 8);
    EXPECT_EQ(m_cat->LineRate(), 9600);  // the terminal's side sees the same line

    const auto states = m_display.CallsTo(Line::TransferState);
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].text, "");
    EXPECT_EQ(states[0].colour, kNormalColour);
    EXPECT_EQ(LogBodies(), std::vector<std::string>{EventBody("Serial Open OK (Port : " + Path() +
                                                              ", Baudrate : 9600)")});
}

TEST_F(SerialFixture, StandardSpeedTextsSetTheLineRateOrKeepTheDrivers) {
    // Rates every driver takes; "4000" is not in the table, so the rate set
    // by the open before it stays.
    const struct {
        const char* speed;
        int expected;
    } steps[] = {{"28800", 38400}, {"19200", 19200}, {"4000", 19200}, {"115200", 115200}, {"9600", 9600}};
    for (const auto& s : steps) {
        ASSERT_TRUE(OpenSerialPort(Path(), s.speed)) << s.speed;
        EXPECT_EQ(g_relay.serialLink.load()->Device().CurrentBaud(), s.expected) << s.speed;
        CloseSerialPort();
    }
}

TEST_F(SerialFixture, HeldPortFailsWithCodeMinusOne) {
    if (RunningUnderWine()) GTEST_SKIP() << "Wine lets a second open of a COM port through";
    platform::SerialDevice holder;
    ASSERT_TRUE(holder.Open(SerialDevicePath(Path()))) << holder.LastError().text;

    EXPECT_FALSE(OpenSerialPort(Path(), "9600"));
    EXPECT_FALSE(g_relay.serialOpen.load());
    const auto states = m_display.CallsTo(Line::TransferState);
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].text, "Serial Open FAIL");
    EXPECT_EQ(states[0].colour, kErrorColour);
    EXPECT_EQ(LogBodies(),
              std::vector<std::string>{EventBody("Serial Open FAIL (Port : " + Path() +
                                                 ", Baudrate : 9600) [ErrorCode : -1]")});
}

TEST_F(SerialFixture, OpenPortIsHeldAgainstEveryOtherOpen) {
    if (RunningUnderWine()) GTEST_SKIP() << "Wine lets a second open of a COM port through";
    ASSERT_TRUE(OpenSerialPort(Path(), "9600"));
    platform::SerialDevice other;
    EXPECT_FALSE(other.Open(SerialDevicePath(Path())));
    EXPECT_EQ(other.LastError().kind, platform::SerialErrorKind::Busy);

    CloseSerialPort();
    EXPECT_TRUE(other.Open(SerialDevicePath(Path()))) << "closing releases the port";
}

TEST_F(SerialFixture, MissingPortLogsTheNameAsGivenCutTo31Bytes) {
    const std::string longName = "/dev/serial/by-id/usb-Nobody_Here_0123456789-if00";
    EXPECT_FALSE(OpenSerialPort("COM200", "9600"));
    EXPECT_FALSE(OpenSerialPort(longName, "9600"));
    EXPECT_EQ(LogBodies(),
              (std::vector<std::string>{
                  EventBody("Serial Open FAIL (Port : COM200, Baudrate : 9600) [ErrorCode : -1]"),
                  EventBody("Serial Open FAIL (Port : " + longName.substr(0, 31) +
                            ", Baudrate : 9600) [ErrorCode : -1]")}));
}

TEST_F(SerialFixture, NothingIsLoggedWhileLoggingIsOff) {
    g_logEnabled.store(false);
    ASSERT_TRUE(OpenSerialPort(Path(), "9600"));
    SendCATControl(kACK);
    CloseSerialPort();
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(SerialFixture, CloseLogsEvenWithoutAPortObject) {
    ASSERT_EQ(g_relay.serialLink.load(), nullptr);
    CloseSerialPort();
    EXPECT_EQ(LogBodies(), std::vector<std::string>{EventBody("Serial CLOSE")});
    EXPECT_FALSE(g_relay.serialOpen.load());
}

TEST_F(SerialFixture, ControlBurstIsFiveBytesAndOneLogLine) {
    ASSERT_TRUE(OpenSerialPort(Path(), "9600"));
    SendCATControl(kESC);
    EXPECT_EQ(catsim::Hex(m_cat->ReadExactly(5, 1000)), "1B1B1B1B1B");
    EXPECT_TRUE(m_cat->ExpectSilence(150));
    const auto bodies = LogBodies();
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_EQ(bodies[1], "[PC ->CAT] [5   ] [1B1B1B1B1B]");
}

TEST_F(SerialFixture, ControlBurstWithoutPortDoesNothing) {
    SendCATControl(kACK);
    EXPECT_TRUE(LogLines().empty());
    EXPECT_TRUE(m_cat->ExpectSilence(50));
}

// A device whose wake-ups cannot be made, as when the system is out of
// descriptors.
class NoWakeupDevice : public platform::SerialDevice {
public:
    NoWakeupDevice(bool failRead, bool failWrite) : m_failRead(failRead), m_failWrite(failWrite) {}
    bool CreateReadWakeup() override { return !m_failRead && SerialDevice::CreateReadWakeup(); }
    bool CreateWriteWakeup() override { return !m_failWrite && SerialDevice::CreateWriteWakeup(); }

private:
    bool m_failRead;
    bool m_failWrite;
};

TEST_F(SerialFixture, WakeupFailureReleasesThePort) {
    const struct {
        bool failRead;
        bool failWrite;
        int code;
    } cases[] = {{true, false, SERIAL_ERR_READ_EVENT}, {false, true, SERIAL_ERR_WRITE_EVENT}};
    for (const auto& c : cases) {
        const bool opened = OpenSerialPort(Path(), "9600", [&] {
            return std::make_unique<NoWakeupDevice>(c.failRead, c.failWrite);
        });
        EXPECT_FALSE(opened);
        EXPECT_FALSE(g_relay.serialOpen.load());
        EXPECT_EQ(LogBodies().back(),
                  EventBody("Serial Open FAIL (Port : " + Path() +
                            ", Baudrate : 9600) [ErrorCode : " + std::to_string(c.code) + "]"));
        if (RunningUnderWine()) continue;  // Wine would let the open through anyway
        platform::SerialDevice other;
        EXPECT_TRUE(other.Open(SerialDevicePath(Path()))) << "code " << c.code << " left the port held";
    }
    EXPECT_EQ(m_display.CallsTo(Line::TransferState).back().text, "Serial Open FAIL");
}

TEST_F(SerialFixture, ReadRejectsCountsOutsideItsBuffer) {
    ASSERT_TRUE(OpenSerialPort(Path(), "9600"));
    uint8_t buf[CSerialCommCls::kMaxRead + 1];
    EXPECT_EQ(ReadCAT(buf, 0), -1);
    EXPECT_EQ(ReadCAT(buf, CSerialCommCls::kMaxRead + 1), -1);
    EXPECT_EQ(ReadCAT(nullptr, 1), -1);
}

// A line let go of and opened again in place (as after an unplug) carries
// bytes both ways as before; time-outs and cancels never count as a lost line.
TEST_F(SerialFixture, LineReopenedInPlaceServesAsBefore) {
    ASSERT_TRUE(OpenSerialPort(Path(), "115200"));
    CSerialCommCls* link = g_relay.serialLink.load();
    uint8_t buf[16] = {};
    EXPECT_EQ(ReadCAT(buf, 1), 0);  // timed out
    EXPECT_FALSE(link->LineLost());
    link->LoseLine();
    EXPECT_FALSE(link->IsOpen());
    EXPECT_EQ(WriteCAT(reinterpret_cast<const uint8_t*>("x"), 1), 0);
    ASSERT_EQ(link->Reopen(), 0);
    EXPECT_TRUE(link->IsOpen());
    ASSERT_TRUE(m_cat->Send("AB"));
    EXPECT_EQ(ReadCAT(buf, 2), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 2), "AB");
    EXPECT_EQ(WriteCAT(reinterpret_cast<const uint8_t*>("CD"), 2), 1);
    EXPECT_EQ(m_cat->ReadExactly(2, 2000), "CD");
    CancelCATRead();
    EXPECT_EQ(ReadCAT(buf, 1), 0);
    EXPECT_FALSE(link->LineLost());
}

}  // namespace
