#include "platform/power.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <mutex>

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

}  // namespace platform
