#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tests/serial/serial_timing.h"

namespace {

TEST_F(SerialTiming, ReadCompletionRule) {
    // Quiet line: 500 + n ms in all.
    {
        auto r = ReadAsync(1).get();
        EXPECT_EQ(r.result, 0);
        EXPECT_GE(r.ms, 495);
        EXPECT_LT(r.ms, 900);
    }
    // n bytes already there: at once.
    {
        ASSERT_TRUE(m_cat->Send("ABCDE"));
        auto r = ReadAsync(5).get();
        EXPECT_EQ(r.bytes, "ABCDE");
        EXPECT_LT(r.ms, 100);
    }
    // Gaps shorter than 100 ms keep the read going; a longer one ends it well
    // before the 2548 ms total.
    {
        std::promise<void> started;
        auto f = ReadAsync(2048, &started);
        started.get_future().wait();
        ASSERT_TRUE(m_cat->Send("AB"));
        m_cat->Silence(40);
        ASSERT_TRUE(m_cat->Send("CD"));
        const auto lastByte = Clock::now();
        auto r = f.get();
        EXPECT_EQ(r.bytes, "ABCD");
        const int64_t afterLast = MsSince(lastByte);
        EXPECT_GE(afterLast, 95);
        EXPECT_LT(afterLast, 600);
    }
}

TEST_F(SerialTiming, CancelEndsAPendingReadAndLaterReadsAtOnce) {
    std::promise<void> started;
    auto f = ReadAsync(2049, &started);
    started.get_future().wait();
    m_cat->Silence(50);  // let the read settle into its wait (it works either way)
    const auto cancelledAt = Clock::now();
    CancelCATRead();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    const auto r = f.get();
    EXPECT_EQ(r.result, 0);
    EXPECT_LT(MsSince(cancelledAt), 100);

    ASSERT_TRUE(m_cat->Send("late"));
    auto again = ReadAsync(1).get();
    EXPECT_EQ(again.result, 0);
    EXPECT_LT(again.ms, 50);

    // A fresh open reads again.
    CloseSerialPort();
    ASSERT_TRUE(OpenSerialPort(Path(), "9600"));
    ASSERT_TRUE(m_cat->Send("x"));
    EXPECT_EQ(ReadAsync(1).get().bytes, "x");
}

TEST_F(SerialTiming, SlowButDrainingLineGetsEveryByte) {
    // The terminal takes 32 KB every 300 ms: far slower than the gateway writes,
    // but never stuck for a second, so nothing may be dropped.
    std::string big(256 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + 7);
    auto writer = std::async(std::launch::async, [&] {
        return WriteCAT(reinterpret_cast<const uint8_t*>(big.data()), static_cast<int>(big.size()));
    });
    std::string seen;
    for (int i = 0; i < 200 && seen.size() < big.size(); ++i) {
        seen += m_cat->ReadExactly(std::min<size_t>(32 * 1024, big.size() - seen.size()), 3000);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    ASSERT_EQ(writer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(writer.get(), 1);
    EXPECT_TRUE(seen == big) << "bytes lost or garbled on a slow line";
}

TEST_F(SerialTiming, WriteThatCannotFinishIsDroppedAndNextWriteArrivesWhole) {
    // Nobody reads the terminal side, so the line fills up and the write waits.
    std::string big(256 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('A' + i % 26);
    const auto t0 = Clock::now();
    EXPECT_EQ(WriteCAT(reinterpret_cast<const uint8_t*>(big.data()), static_cast<int>(big.size())),
              0);
    const int64_t ms = MsSince(t0);
    EXPECT_GE(ms, 990);
    EXPECT_LT(ms, 4000);  // a pty may take its last chunks a little late

    SendCATControl(kESC);
    const std::string seen = m_cat->ReadUntilQuiet(200, 5000);
    ASSERT_GE(seen.size(), 5u);
    EXPECT_LT(seen.size(), big.size() + 5) << "the abandoned write was not dropped";
    EXPECT_EQ(seen.substr(seen.size() - 5), std::string(5, '\x1B'));
    const std::string before = seen.substr(0, seen.size() - 5);
    EXPECT_EQ(before, big.substr(0, before.size())) << "only a prefix of the old write may show";
}

TEST_F(SerialTiming, BurstsFromTwoThreadsNeverInterleave) {
    constexpr int kBursts = 200;
    auto writer = [](uint8_t byte) {
        for (int i = 0; i < kBursts; ++i) SendCATControl(byte);
    };
    std::thread a(writer, kACK);
    std::thread b(writer, kESC);
    const std::string seen = m_cat->ReadExactly(2 * kBursts * 5, 10000);
    a.join();
    b.join();
    ASSERT_EQ(seen.size(), static_cast<size_t>(2 * kBursts * 5));
    int acks = 0;
    for (size_t i = 0; i < seen.size(); i += 5) {
        const std::string burst = seen.substr(i, 5);
        EXPECT_EQ(burst, std::string(5, burst[0])) << "at " << i;
        acks += burst[0] == static_cast<char>(kACK);
    }
    EXPECT_EQ(acks, kBursts);
}

TEST_F(SerialTiming, ReadAndWriteRunTogether) {
    std::promise<void> started;
    auto f = ReadAsync(3, &started);
    started.get_future().wait();
    const uint8_t out[] = {'o', 'u', 't'};
    EXPECT_EQ(WriteCAT(out, 3), 1);
    EXPECT_EQ(m_cat->ReadExactly(3, 1000), "out");
    ASSERT_TRUE(m_cat->Send("in!"));
    EXPECT_EQ(f.get().bytes, "in!");
}

}  // namespace
