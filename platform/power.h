#pragma once
#include <functional>
#include <memory>

namespace platform {

// Asks the system not to idle-sleep while on is held (the display may still
// turn off); a user's or a policy's explicit sleep still happens. Windows:
// SetThreadExecutionState on the calling thread, which is to be the
// user-interface thread. Linux: a logind "idle:sleep" inhibitor on the system
// bus, nothing where there is no bus. Calls alternate true, false.
void KeepSystemAwake(bool on);

// Calls onResume, on a thread of its own, each time the system has come back
// from sleep. Linux: logind's PrepareForSleep(false) on the system bus;
// nothing where there is no bus. Windows: nothing (the window itself gets
// WM_POWERBROADCAST). The destructor ends the watch within half a second.
class ResumeWatch {
public:
    explicit ResumeWatch(std::function<void()> onResume);
    ~ResumeWatch();
    ResumeWatch(const ResumeWatch&) = delete;
    ResumeWatch& operator=(const ResumeWatch&) = delete;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

}  // namespace platform
