#pragma once
#include <string>

#include "update/update_check.h"

namespace update_internal {

// The folder scripts are written to and run in ("" when it cannot be told).
std::string WorkDir(const UpdateOptions& options);
// The process the scripts wait for.
int ScriptPid(const UpdateOptions& options);
// Writes (replaces) a file; true when all of it was written.
bool WriteTextFile(const std::string& path, const std::string& text);
// The same for a script, in the bytes the script's interpreter reads.
bool WriteScriptFile(const std::string& path, const std::string& text);

}  // namespace update_internal
