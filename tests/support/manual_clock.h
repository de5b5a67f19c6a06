#pragma once
#include <mutex>

#include "platform/clock.h"

// A clock the test moves by hand.
class ManualClock {
public:
    explicit ManualClock(platform::LocalTime start) : m_now(start) {}
    platform::LocalTime Now() const {
        std::lock_guard lock(m_mutex);
        return m_now;
    }
    void Set(platform::LocalTime t) {
        std::lock_guard lock(m_mutex);
        m_now = t;
    }
    platform::LocalClock AsClock() {
        return [this] { return Now(); };
    }

private:
    mutable std::mutex m_mutex;
    platform::LocalTime m_now;
};
