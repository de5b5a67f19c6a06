#pragma once
#include <string>

// The texts of the self-management scripts: POSIX sh on Linux
// (scripts_sh.cpp), batch files on Windows (scripts_bat.cpp). Each script
// waits (bounded, never spinning) for the program to end, touches only the
// exact files it names, quotes every path, and removes itself at its end.
// Every path through a script that starts a program ends with a copy of the
// program started: when the new one cannot be put in place, the one that is
// there is started again.

// How long a script waits for the program to end and its file to be free.
constexpr int kScriptWaitSeconds = 120;
// How long the update script gives the new program to confirm its clean start
// before it puts the old one back.
constexpr int kConfirmSeconds = 60;

// How a script runs: what it waits for and where the program it starts runs.
struct ScriptRun {
    int pid = 0;       // the process whose end the script waits for
    std::string self;  // the script's own file, removed at its end
    // The folder the started program gets as its current directory; "" (or a
    // folder that is gone by then) gives it the script's own folder.
    std::string startDir;
    int waitSeconds = kScriptWaitSeconds;  // the bound on every wait
    // Made by the script's first command, so the program knows the script has
    // begun to run ("" = none).
    std::string runMark;
    int confirmSeconds = kConfirmSeconds;  // the update's wait for a clean start
};

// The mark a script leaves as it begins: its own path and ".run".
std::string ScriptRunMark(const std::string& script);

// A script's file name from its base: "update_brisken" gives
// "update_brisken.sh" or "update_brisken.bat".
std::string ScriptFileName(const std::string& base);

// sh scripts only: a word for sh, single-quoted, a single quote written as '\''.
std::string ShQuote(const std::string& text);

// dir, the platform's separator and name (no doubled separator; a dir of ""
// gives name itself).
std::string JoinPath(const std::string& dir, const std::string& name);

// update_brisken: stages the download beside installedExe as "<exe>.new",
// keeps a copy of the program as "<exe>.old", moves the new one over
// installedExe once the program has ended and starts it. A missing download,
// a copy or a move that fails (the move retried until the wait runs out)
// start the installed program as it is. A new program that has not made
// startedMark within the run's confirmSeconds is ended and the old one is put
// back (retried within the wait) and started.
std::string UpdateScriptText(const ScriptRun& run, const std::string& downloadPath,
                             const std::string& installedExe, const std::string& startedMark);

// killfile: removes the old executable, its settings file and its CATLOG
// folder from the old executable's folder once the program has ended, and
// only while the installed copy exists.
std::string KillfileScriptText(const ScriptRun& run, const std::string& oldDir,
                               const std::string& exeName, const std::string& iniName,
                               const std::string& installedExe);

// runextern: once the program (oldExe) has ended or the wait has run out,
// starts the installed executable, or the old one when the installed one is
// missing.
std::string RunexternScriptText(const ScriptRun& run, const std::string& installedExe,
                                const std::string& oldExe);

// killfileall: removes the executable, the settings file and the CATLOG
// folder from the executable's folder and from the install folder.
std::string KillfileallScriptText(const ScriptRun& run, const std::string& exeDir,
                                  const std::string& installDir, const std::string& exeName,
                                  const std::string& iniName);
