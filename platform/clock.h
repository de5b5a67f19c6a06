#pragma once
#include <cstdint>
#include <functional>

namespace platform {

// A local wall-clock reading, as the traffic log and its file names need it.
struct LocalTime {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Reads the local time of day and date. Any thread.
LocalTime NowLocal();

// Something that says what time it is; tests pass a manual clock.
using LocalClock = std::function<LocalTime()>;

// A monotonic reading in milliseconds, for time-outs.
int64_t MonotonicMs();

// Sleeps for the given milliseconds (0 or less returns at once).
void SleepMs(int ms);

}  // namespace platform
