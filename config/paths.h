#pragma once
#include <string>

// The path values every part of the program derives its files from. Filled once
// at start-up; nothing changes them afterwards.
struct PathValues {
    std::string exePath;     // full path of the running executable
    std::string exeDir;      // its folder, ending in the separator ('/', '\\')
    std::string exeName;     // file name of the executable, e.g. "brisken", "Brisken.exe"
    std::string exeBase;     // exeName without its extension (platform::ExecutableBaseName)
    std::string iniName;     // exeBase + ".ini"
    std::string iniPath;     // exeDir + iniName
    std::string installDir;  // HOMEDRIVE, else home, then the separator and "QAVEX"
};

extern PathValues g_paths;

// Derives the values from an executable path and the two environment values
// (HOMEDRIVE wins when it is set and not empty: C:\QAVEX on Windows).
PathValues DerivePathValues(const std::string& exePath, const std::string& homeDrive,
                            const std::string& home);

// Derives g_paths from the running executable and the environment.
void InitPathValues();
