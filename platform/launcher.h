#pragma once
#include <string>

namespace platform {

// Starts a self-management script so that it outlives this process and shows
// nothing: Windows runs the .bat hidden (ShellExecuteExW, "open", SW_HIDE);
// Linux runs "/bin/sh script" in a new session without a terminal, with no
// descriptor of ours and its input and output on /dev/null. It runs in workDir
// ("" = the current directory). Returns the script process's id, or -1 when
// it could not be started.
int LaunchScriptDetached(const std::string& script, const std::string& workDir);

// The bytes a script file holds for a UTF-8 text: Windows writes the console
// (OEM) code page that cmd.exe reads batch files in; Linux keeps UTF-8.
std::string ScriptFileBytes(const std::string& text);

// This process's id.
int CurrentProcessId();

// True when the file starts like an executable this platform runs: on Windows
// "MZ" and a PE header for this machine, on Linux ELF of our word size.
bool IsNativeExecutable(const std::string& path);

// The program's own file version: the FileVersion string of its version
// resource on Windows ("" when it has none), the compiled-in project version
// elsewhere.
std::string OwnFileVersion();

}  // namespace platform
