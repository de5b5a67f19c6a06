#pragma once
#include <functional>
#include <string>

#include "update/scripts.h"
#include "update/update_check.h"

namespace update_internal {

// The current directory ("" when it cannot be told), or options.workDir.
std::string WorkDir(const UpdateOptions& options);
// The process the scripts wait for.
int ScriptPid(const UpdateOptions& options);
// Writes (replaces) a file; true when all of it was written.
bool WritePrivateFile(const std::string& path, const std::string& bytes);
bool WriteTextFile(const std::string& path, const std::string& text);
// The same for a script, in the bytes the script's interpreter reads; false
// (nothing written) when the text cannot be written there as it is.
bool WriteScriptFile(const std::string& path, const std::string& text);

// Maps each path to the text a script names it by (platform::ScriptPathText);
// false when one of them cannot be named in a script.
bool ForScript(std::initializer_list<std::string*> paths);

// Writes the script of that base name, private to the user, into the first
// folder that takes it: the install folder, the user's temporary folder (never
// the current directory, nor a removable or network drive).
// make builds its text for a run (its own path already named for a script)
// and gives "" when a path cannot be named in a script. Returns the script's
// path, "" when no folder took it.
std::string PlaceScript(const UpdateOptions& options, const std::string& base,
                        const std::function<std::string(const ScriptRun&)>& make);

// Launches a placed script in its own folder; true once its mark shows that it
// runs (waited for up to options.scriptStartMs). A script that could not be
// launched, or whose mark never came, is ended and removed.
bool LaunchScript(const UpdateOptions& options, const std::string& script);

}  // namespace update_internal
