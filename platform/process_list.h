#pragma once
#include <string>

namespace platform {

// Counts the running processes whose executable file name begins with name
// (letter case counts; a name merely containing it further on does not count).
// The caller is counted too. Windows walks a Tool Help snapshot (szExeFile);
// Linux walks /proc, skipping entries that cannot be read and zombies. 0 when
// the process list cannot be read at all, or name is empty.
int CountRunningCopies(const std::string& name);

// Linux only: the same over another copy of the process file system (tests).
int CountRunningCopies(const std::string& name, const std::string& procRoot);

}  // namespace platform
