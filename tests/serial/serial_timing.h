#pragma once
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "tests/serial/serial_fixture.h"

using Clock = std::chrono::steady_clock;

inline int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

struct TimedRead {
    int result = 0;
    std::string bytes;
    int64_t ms = 0;
};

// Starts ReadCAT(count) on another thread; the future holds its result, its
// bytes and how long it took.
inline std::future<TimedRead> ReadAsync(int count, std::promise<void>* started = nullptr) {
    return std::async(std::launch::async, [count, started] {
        std::vector<uint8_t> buf(static_cast<size_t>(count));
        const auto t0 = Clock::now();
        if (started) started->set_value();
        TimedRead r;
        r.result = ReadCAT(buf.data(), count);
        r.ms = MsSince(t0);
        if (r.result > 0)
            r.bytes.assign(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(r.result));
        return r;
    });
}

class SerialTiming : public SerialFixture {
protected:
    void SetUp() override {
        SerialFixture::SetUp();
        g_logEnabled.store(false);
        ASSERT_TRUE(OpenSerialPort(Path(), "115200"));
    }
};
