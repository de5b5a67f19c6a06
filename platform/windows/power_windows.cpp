#include <windows.h>

#include "platform/power.h"

namespace platform {

void KeepSystemAwake(bool on) {
    // Continuous: the request stays until this thread changes it.
    SetThreadExecutionState(on ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
}

struct ResumeWatch::State {};

ResumeWatch::ResumeWatch(std::function<void()>) {}
ResumeWatch::~ResumeWatch() = default;

}  // namespace platform
