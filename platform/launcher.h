#pragma once
#include <string>

namespace platform {

// Starts a self-management script so that it outlives this process and shows
// nothing: Windows runs "cmd.exe /d /c <script>" from the system folder with
// no window (the user's cmd AutoRun, a "chcp" for one, never runs first);
// Linux runs "/bin/sh script" in a new session without a terminal, with no
// descriptor of ours and its input and output on /dev/null. It runs in workDir
// ("" = the script's own folder). Returns the script process's id, or -1 when
// it could not be started.
int LaunchScriptDetached(const std::string& script, const std::string& workDir);

// The bytes a script file holds for a UTF-8 text: Windows writes the console
// (OEM) code page that cmd.exe reads batch files in; Linux keeps UTF-8. ""
// when the text cannot be written there as it is (a character the code page
// lacks would come out as "?" or a look-alike).
std::string ScriptFileBytes(const std::string& text);

// A path as a script may name it: the path itself where the script's code
// page holds it; on Windows otherwise a folder by its short (8.3) name and a
// file by its folder's short name and its own name (a file's own short name
// would be all that is left of a file moved over by it). "" when that cannot
// be written losslessly either (a file name the code page lacks, no short
// names on that volume): no script names it then.
std::string ScriptPathText(const std::string& path);

// True when a script in dir can be run there: cmd.exe cannot take a network
// folder (\\server\share\...) as its current directory and would look for
// the script elsewhere, so on Windows such a folder is no place for one.
bool ScriptFolderUsable(const std::string& dir);

// This process's id.
int CurrentProcessId();

// True when the file starts like an executable this platform runs: on Windows
// "MZ" and a PE header for this machine (x86, and x64 in a 64-bit program),
// on Linux ELF of our word size.
bool IsNativeExecutable(const std::string& path);

// The program's own file version: the FileVersion string of its version
// resource on Windows ("" when it has none), the compiled-in project version
// elsewhere.
std::string OwnFileVersion();

}  // namespace platform
