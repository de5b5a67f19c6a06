#include "platform/autostart.h"
#include "platform/windows/registry.h"

namespace platform {

namespace {
const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
}

bool SetAutostart(const std::string& name, const std::string& command) {
    if (name.empty() || command.find_first_of("\r\n") != std::string::npos) return false;
    return win::WriteRegString(HKEY_CURRENT_USER, kRunKey, name, command);
}

bool RemoveAutostart(const std::string& name) {
    return !name.empty() && win::DeleteRegValue(HKEY_CURRENT_USER, kRunKey, name);
}

bool AutostartExists(const std::string& name) {
    return !name.empty() && win::ReadRegString(HKEY_CURRENT_USER, kRunKey, name).has_value();
}

std::string AutostartCommand(const std::string& exePath) { return "\"" + exePath + "\""; }

}  // namespace platform
