#include "tools/catsim/cat_simulator.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/serial_device.h"
#include "tests/support/serial_pair.h"

namespace {

TEST(CatSimulatorAddress, OnlyLoopbackOrUnusableTextsAreSent) {
    const struct {
        const char* address;
        bool safe;
    } cases[] = {
        {"127.0.0.1", true},   {"127.1.2.3", true},   {"", true},
        {"bad-address", true}, {"999.1.1.1", false},  {"0.0.0.0", false},
        {"1.2.3", false},      {"0x7f.1", false},     {" 0.0.0.0", false},
        {"0.0.0.0 x", false}, {"127.0.0.1x", false}, {"127.0.0.1:80", true},
        {"abc", false},        {"127.", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(catsim::IsSafeRequestAddress(c.address), c.safe) << c.address;
}

TEST(CatSimulatorPair, RequestFramesAndRefusals) {
    std::string port;
    std::string error;
    auto cat = OpenTerminalLine(port, &error);
    ASSERT_TRUE(cat) << error;
    platform::SerialDevice gateway;
    ASSERT_TRUE(gateway.Open(platform::SerialDevicePath(port)));
    ASSERT_TRUE(gateway.CreateReadWakeup());

    EXPECT_FALSE(cat->SendRequest("0.0.0.0", "5010"));
    ASSERT_TRUE(cat->SendRequest("127.0.0.1", "5010"));
    uint8_t buf[64];
    const int n = gateway.Read(buf, sizeof buf, platform::SerialReadTiming{});
    ASSERT_GT(n, 0);
    EXPECT_EQ(catsim::Hex(std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(n))),
              "013132372E302E302E311C3530313017");

    ASSERT_TRUE(gateway.Write(reinterpret_cast<const uint8_t*>("\x06\x06\x06\x06\x06"), 5, 1000));
    EXPECT_TRUE(cat->ExpectBurst(catsim::kACK, 1000));
}

}  // namespace
