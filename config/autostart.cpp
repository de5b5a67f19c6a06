#include "config/autostart.h"

#include "config/paths.h"
#include "platform/autostart.h"
#include "platform/system.h"

namespace {

// The registration is named after ExeBase, so copies under different names
// register separately.
std::string RegistrationName() {
    if (!g_paths.exeBase.empty()) return g_paths.exeBase;
    return DerivePathValues(platform::ExecutablePath(), {}, {}).exeBase;
}

}  // namespace

std::string AutoRunCommand() { return platform::AutostartCommand(platform::ExecutablePath()); }

int SetAutoRun(const std::string& command) {
    const std::string name = RegistrationName();
    // A line break cannot be held by the registration (and would add lines to
    // an entry file).
    if (name.empty() || command.find_first_of("\r\n") != std::string::npos) return 0;
    return platform::SetAutostart(name, command) ? 1 : 0;
}

int DeleteAutoRunValue() {
    const std::string name = RegistrationName();
    return !name.empty() && platform::RemoveAutostart(name) ? 1 : 0;
}

bool IsAutoRunRegistered() {
    const std::string name = RegistrationName();
    return !name.empty() && platform::AutostartExists(name);
}
