#pragma once
#include <string>

// The texts of the self-management scripts: POSIX sh on Linux
// (scripts_sh.cpp), batch files on Windows (scripts_bat.cpp). Each script
// first waits (bounded, never spinning) for the program to end, touches only
// the exact files it names, quotes every path, and removes itself at its end.

// How long a script waits for the program to end: tries of 0.2 s each.
constexpr int kScriptWaitTries = 600;

// A script's file name from its base: "update_brisken" gives
// "update_brisken.sh" or "update_brisken.bat".
std::string ScriptFileName(const std::string& base);

// sh scripts only: a word for sh, single-quoted, a single quote written as '\''.
std::string ShQuote(const std::string& text);

// dir, the platform's separator and name (no doubled separator; a dir of ""
// gives name itself).
std::string JoinPath(const std::string& dir, const std::string& name);

// update_brisken: replaces installedExe with the download and starts it.
std::string UpdateScriptText(int pid, const std::string& downloadPath,
                             const std::string& installedExe, const std::string& self);

// killfile: removes the old executable, its settings file and its CATLOG
// folder from the old executable's folder.
std::string KillfileScriptText(int pid, const std::string& oldDir, const std::string& exeName,
                               const std::string& iniName, const std::string& self);

// runextern: starts the installed executable once the program (oldExe) has ended.
std::string RunexternScriptText(int pid, const std::string& installedExe, const std::string& oldExe,
                                const std::string& self);

// killfileall: removes the executable, the settings file and the CATLOG
// folder from the executable's folder and from the install folder.
std::string KillfileallScriptText(int pid, const std::string& exeDir, const std::string& installDir,
                                  const std::string& exeName, const std::string& iniName,
                                  const std::string& self);
