// Port names as Windows device paths, and the read timing of a real COM port
// (printed, for the record of what the driver does).
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/serial/serial_timing.h"

namespace {

TEST(SerialPortNames, ComNamesMapToDevicePathsAndOthersStand) {
    const struct {
        const char* name;
        const char* path;
    } cases[] = {
        {"COM1", "\\\\.\\COM1"},
        {"COM11", "\\\\.\\COM11"},
        {"COM256", "\\\\.\\COM256"},
        {"COM0", "COM0"},
        {"COM", "COM"},
        {"COM3x", "COM3x"},
        {"com3", "com3"},
        {"\\\\.\\CNCA0", "\\\\.\\CNCA0"},
        {"COM99999999999", "COM99999999999"},
    };
    for (const auto& c : cases) EXPECT_EQ(SerialDevicePath(c.name), c.path) << c.name;
}

TEST_F(SerialTiming, IdleAndContinuationReadsEndWhenTheDriverSays) {
    const auto idle = ReadAsync(1).get();
    EXPECT_EQ(idle.result, 0);
    std::promise<void> started;
    auto f = ReadAsync(2048, &started);
    started.get_future().wait();
    ASSERT_TRUE(m_cat->Send("ABCDE"));
    const auto lastByte = Clock::now();
    const auto more = f.get();
    const int64_t afterLast = MsSince(lastByte);
    EXPECT_EQ(more.bytes, "ABCDE");
    std::printf(
        "serial timing: idle 1-byte read %lld ms; continuation read ended %lld ms after "
        "the last byte\n",
        static_cast<long long>(idle.ms), static_cast<long long>(afterLast));
}

}  // namespace
