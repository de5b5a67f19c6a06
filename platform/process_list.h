#pragma once
#include <string>

namespace platform {

// Counts the running processes whose executable file name begins with name
// (letter case counts; a name merely containing it further on does not count).
// The caller is counted too. Entries that cannot be read and zombies are
// skipped; 0 when the process list cannot be read at all, or name is empty.
// procRoot is the process file system to walk ("/proc"; tests pass a copy).
int CountRunningCopies(const std::string& name, const std::string& procRoot = "/proc");

}  // namespace platform
