#pragma once
#include <string>

namespace platform {

// Runs "/bin/sh script" detached from this process: in a new session, without a
// terminal, with no descriptor of ours, input and output on /dev/null, in
// workDir ("" = the current directory). Returns the shell's process id, or -1
// when it could not be started. The shell outlives this process.
int LaunchScriptDetached(const std::string& script, const std::string& workDir);

// This process's id.
int CurrentProcessId();

// True when the file starts like an executable this platform runs (ELF of our
// word size).
bool IsNativeExecutable(const std::string& path);

}  // namespace platform
