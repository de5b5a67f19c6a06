#pragma once
#include <string>

// The per-user registration that starts the program with the user's session,
// one per name (the program's ExeBase). Windows: the value <name> under
// HKEY_CURRENT_USER\SOFTWARE\Microsoft\Windows\CurrentVersion\Run, holding the
// command. Linux: the XDG autostart entry <name>.desktop whose Exec= holds it.
namespace platform {

// Writes (replaces whole) the registration; true on success. The command must
// not hold a line break.
bool SetAutostart(const std::string& name, const std::string& command);

// Removes it; true only when one was there and is now gone.
bool RemoveAutostart(const std::string& name);

// True when a registration of that name exists (whatever it holds).
bool AutostartExists(const std::string& name);

// The command that starts the executable at exePath, quoted as the
// registration needs it: a double quote, the path, a double quote.
std::string AutostartCommand(const std::string& exePath);

}  // namespace platform
