#include "platform/power.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace platform {

namespace {

std::mutex g_mutex;
int g_inhibitor = -1;  // the descriptor logind holds the inhibitor by

// Takes logind's "idle:sleep" inhibitor; -1 where there is no system bus or
// logind refuses. The call waits at most 2 s.
int TakeInhibitor() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return -1;
    sd_bus_set_method_call_timeout(bus, 2000000);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int fd = -1;
    if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss",
                           "idle:sleep", "Talmira", "card terminal connected", "block") >= 0) {
        int held = -1;
        // The descriptor belongs to the message: a copy of it is kept.
        if (sd_bus_message_read(reply, "h", &held) >= 0) fd = fcntl(held, F_DUPFD_CLOEXEC, 3);
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return fd;
}

}  // namespace

void KeepSystemAwake(bool on) {
    std::lock_guard lock(g_mutex);
    if (on && g_inhibitor < 0) {
        g_inhibitor = TakeInhibitor();
    } else if (!on && g_inhibitor >= 0) {
        ::close(g_inhibitor);  // closing it releases the inhibitor
        g_inhibitor = -1;
    }
}

struct ResumeWatch::State {
    std::function<void()> onResume;
    std::atomic<bool> stop{false};
    std::thread thread;
};

namespace {

int OnPrepareForSleep(sd_bus_message* message, void* data, sd_bus_error*) {
    int starting = 1;
    if (sd_bus_message_read(message, "b", &starting) >= 0 && !starting) {
        auto* state = static_cast<ResumeWatch::State*>(data);
        if (state->onResume) state->onResume();
    }
    return 0;
}

// Listens for logind's sleep signal until stopped; gives up quietly when
// there is no system bus or the bus goes away.
void WatchSleep(ResumeWatch::State* state) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return;
    sd_bus_slot* slot = nullptr;
    if (sd_bus_match_signal(bus, &slot, "org.freedesktop.login1", "/org/freedesktop/login1",
                            "org.freedesktop.login1.Manager", "PrepareForSleep",
                            &OnPrepareForSleep, state) >= 0) {
        while (!state->stop.load()) {
            const int r = sd_bus_process(bus, nullptr);
            if (r < 0) break;
            if (r > 0) continue;  // more may be queued
            if (sd_bus_wait(bus, 500000) < 0) break;  // woken at least every 0.5 s
        }
    }
    sd_bus_slot_unref(slot);
    sd_bus_flush_close_unref(bus);
}

}  // namespace

ResumeWatch::ResumeWatch(std::function<void()> onResume) : m_state(std::make_shared<State>()) {
    m_state->onResume = std::move(onResume);
    try {
        m_state->thread = std::thread(WatchSleep, m_state.get());
    } catch (const std::system_error&) {
        // No thread: no resume notice; the port list's watch still opens the line again.
    }
}

ResumeWatch::~ResumeWatch() {
    m_state->stop = true;
    if (m_state->thread.joinable()) m_state->thread.join();
}

}  // namespace platform
