#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/port_discovery.h"
#include "platform/serial_ports.h"
#include "config/settings.h"
#include "tests/support/fake_port_list.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string> TwoPorts() { return {"/dev/ttyUSB1", "/dev/ttyS0"}; }
std::vector<std::string> NoPorts() { return {}; }

std::vector<std::string> Fallback() {
    std::vector<std::string> names;
    for (int n = 1; n <= 20; ++n) names.push_back("COM" + std::to_string(n));
    return names;
}

class PortDiscovery : public ::testing::Test {
protected:
    void SetUp() override { ResetSettings(); }
    void TearDown() override { ResetSettings(); }
};

TEST_F(PortDiscovery, ReportedPortsInTheirOrderAfterExistingItems) {
    VectorPortList list({"선택안함"});
    EXPECT_EQ(EnumerateSerialPorts(list, &TwoPorts), 2);
    EXPECT_EQ(list.items, (std::vector<std::string>{"선택안함", "/dev/ttyUSB1", "/dev/ttyS0"}));
}

TEST_F(PortDiscovery, NoneReportedGivesTheFixedList) {
    VectorPortList list;
    EXPECT_EQ(EnumerateSerialPorts(list, &NoPorts), 0);
    EXPECT_EQ(list.items, Fallback());
}

TEST_F(PortDiscovery, ConfiguredDevicePathIsAppendedWhenItExists) {
    TempDir dir;
    const std::string device = dir / "ttyFAKE";  // stands in for a pseudo-terminal
    ASSERT_TRUE(WriteFile(device, ""));

    struct Case {
        const char* name;
        std::string configured;
        std::vector<std::string> (*source)();
        int result;
        std::vector<std::string> items;
    };
    std::vector<std::string> withFallback = Fallback();
    withFallback.push_back(device);
    const Case cases[] = {
        {"appended after the reported ports", device, &TwoPorts, 2, {"/dev/ttyUSB1", "/dev/ttyS0", device}},
        {"appended after the fixed list", device, &NoPorts, 0, withFallback},
        {"a missing device is not offered", dir / "gone", &TwoPorts, 2, TwoPorts()},
        {"a reported device is not repeated", "/dev/ttyS0", &TwoPorts, 2, TwoPorts()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_comPort = 0;
        g_comPortPath = c.configured;
        VectorPortList list;
        EXPECT_EQ(EnumerateSerialPorts(list, c.source), c.result);
        EXPECT_EQ(list.items, c.items);
    }
}

TEST_F(PortDiscovery, AnAdaptersIdentityFromItsWindowsInstanceId) {
    struct Case {
        const char* id;
        const char* identity;
    };
    const Case cases[] = {
        {"USB\\VID_0403&PID_6001\\A50285BI", "USB 0403:6001 A50285BI"},
        // No serial number: Windows' ID from the adapter's place on the hub.
        {"USB\\VID_1A86&PID_7523\\5&2A3B&0&2", "USB 1a86:7523 @5&2A3B&0&2"},
        {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "USB 0403:6001 A50285BIA"},
        {"ACPI\\PNP0501\\1", ""},
        {"USB\\VID_1A86", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::IdentityFromInstanceId(c.id), c.identity) << c.id;
}

TEST_F(PortDiscovery, Selection) {
    struct Case {
        const char* name;
        int32_t port;
        std::string path;
        std::vector<std::string> items;
        int before;
        int after;
    };
    const Case cases[] = {
        {"first of two equal items", 3, "", {"선택안함", "COM1", "COM3", "COM3"}, 0, 2},
        {"lower case does not match", 3, "", {"선택안함", "com3"}, 0, 0},
        {"port 0 keeps the selection", 0, "", {"선택안함", "COM0", "COM1"}, 2, 2},
        {"no match keeps the selection", 9, "", {"COM1", "COM2"}, 1, 1},
        {"COM1 is not COM10", 1, "", {"COM10", "COM1"}, -1, 1},
        {"device path", 0, "/dev/ttyUSB0", {"선택안함", "/dev/ttyS0", "/dev/ttyUSB0"}, 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_comPort = c.port;
        g_comPortPath = c.path;
        VectorPortList list(c.items, c.before);
        SelectPortItem(list);
        EXPECT_EQ(list.Selected(), c.after);
    }
}

}  // namespace
