#pragma once
#include <string>

// The path values every part of the program derives its files from. Filled once
// at start-up; nothing changes them afterwards.
struct PathValues {
    std::string exePath;     // full path of the running executable
    std::string exeDir;      // its folder, ending in '/'
    std::string exeName;     // file name of the executable, e.g. "brisken"
    std::string exeBase;     // exeName without a trailing ".exe"
    std::string iniName;     // exeBase + ".ini"
    std::string iniPath;     // exeDir + iniName
    std::string installDir;  // $HOMEDRIVE/QAVEX, else $HOME/QAVEX; no trailing '/'
};

extern PathValues g_paths;

// Derives the values from an executable path and the two environment values
// (HOMEDRIVE wins when it is set and not empty).
PathValues DerivePathValues(const std::string& exePath, const std::string& homeDrive,
                            const std::string& home);

// Derives g_paths from the running executable and the environment.
void InitPathValues();
