#include <windows.h>

#include "platform/clock.h"

namespace platform {

LocalTime NowLocal() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    LocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.millisecond = st.wMilliseconds;
    return t;
}

int64_t MonotonicMs() { return static_cast<int64_t>(GetTickCount64()); }

void SleepMs(int ms) {
    if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

}  // namespace platform
