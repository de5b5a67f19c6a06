#include "config/paths.h"
#include "config/settings.h"
#include "platform/autostart.h"
#include "platform/system.h"

namespace {

// The entry is named after ExeBase, so copies under different names register
// separately.
std::string EntryFileName() {
    std::string base = g_paths.exeBase;
    if (base.empty()) base = DerivePathValues(platform::ExecutablePath(), {}, {}).exeBase;
    if (base.empty()) return {};
    return base + ".desktop";
}

// Exec= is a desktop-entry string: a backslash is doubled, and a literal percent
// sign is "%%" because % starts a field code.
std::string ExecValue(const std::string& command) {
    std::string out;
    for (char c : command) {
        if (c == '\\') out += "\\\\";
        else if (c == '%') out += "%%";
        else out += c;
    }
    return out;
}

}  // namespace

std::string AutoRunCommand() {
    // Inside a quoted Exec argument these four characters must be escaped; an
    // ordinary path needs none of it and reads as "<path>".
    std::string quoted = "\"";
    for (char c : platform::ExecutablePath()) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

int SetAutoRun(const std::string& command) {
    const std::string name = EntryFileName();
    // A line break cannot be held by a desktop-entry value.
    if (name.empty() || command.find_first_of("\r\n") != std::string::npos) return 0;
    const std::string base = name.substr(0, name.size() - 8);
    const std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=" + base + "\n"
        "Exec=" + ExecValue(command) + "\n"
        "X-GNOME-Autostart-enabled=true\n";
    return platform::WriteAutostartEntry(name, entry) ? 1 : 0;
}

int DeleteAutoRunValue() {
    const std::string name = EntryFileName();
    return !name.empty() && platform::RemoveAutostartEntry(name) ? 1 : 0;
}

bool IsAutoRunRegistered() {
    const std::string name = EntryFileName();
    return !name.empty() && platform::AutostartEntryExists(name);
}
