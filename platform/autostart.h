#pragma once
#include <string>

namespace platform {

// The per-user folder of session autostart entries: $XDG_CONFIG_HOME/autostart,
// else $HOME/.config/autostart; "" when neither variable gives a folder.
std::string AutostartFolder();

// Writes the entry file <AutostartFolder()>/<fileName> with the given contents,
// creating the folder when missing. The file is written beside its final name and
// renamed into place, so an existing entry is replaced whole or not at all.
// True on success. fileName must be a plain file name (no '/').
bool WriteAutostartEntry(const std::string& fileName, const std::string& contents);

// Removes the entry file; true only when a file was there and is now gone.
bool RemoveAutostartEntry(const std::string& fileName);

// True when the entry file exists (whatever it holds).
bool AutostartEntryExists(const std::string& fileName);

}  // namespace platform
