#pragma once
#include <string>

// The texts of the self-management scripts and of the desktop launcher. Each
// script first waits (bounded) for the program's process to end, touches only
// the exact files it names, and removes itself at its end.

// How long a script waits for the program to end: tries of 0.2 s each.
constexpr int kScriptWaitTries = 600;

// A word for sh: single-quoted, a single quote written as '\''.
std::string ShQuote(const std::string& text);

// dir + "/" + name (no doubled '/'; a dir of "" gives name itself).
std::string JoinPath(const std::string& dir, const std::string& name);

// update_brisken.sh: replaces installedExe with the download and starts it.
std::string UpdateScriptText(int pid, const std::string& downloadPath,
                             const std::string& installedExe, const std::string& self);

// killfile.sh: removes the old executable, its settings file and its CATLOG
// folder from the old executable's folder.
std::string KillfileScriptText(int pid, const std::string& oldDir, const std::string& exeName,
                               const std::string& iniName, const std::string& self);

// runextern.sh: starts the installed executable once the program has ended.
std::string RunexternScriptText(int pid, const std::string& installedExe, const std::string& self);

// killfileall.sh: removes the executable, the settings file and the CATLOG
// folder from the executable's folder and from the install folder.
std::string KillfileallScriptText(int pid, const std::string& exeDir, const std::string& installDir,
                                  const std::string& exeName, const std::string& iniName,
                                  const std::string& self);

// The desktop launcher: Type=Application, Exec=target, Path=workDir, Icon.
std::string DesktopEntryText(const std::string& name, const std::string& target,
                             const std::string& workDir);
