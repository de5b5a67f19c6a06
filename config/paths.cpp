#include "config/paths.h"

#include "platform/system.h"

PathValues g_paths;

PathValues DerivePathValues(const std::string& exePath, const std::string& homeDrive,
                            const std::string& home) {
    PathValues p;
    p.exePath = exePath;
    size_t slash = std::string::npos;
    for (size_t i = exePath.size(); i-- > 0;) {
        if (platform::IsPathSeparator(exePath[i])) {
            slash = i;
            break;
        }
    }
    p.exeDir = slash == std::string::npos ? std::string() : exePath.substr(0, slash + 1);
    p.exeName = slash == std::string::npos ? exePath : exePath.substr(slash + 1);
    p.exeBase = platform::ExecutableBaseName(p.exeName);
    p.iniName = p.exeBase + ".ini";
    p.iniPath = p.exeDir + p.iniName;
    std::string root = !homeDrive.empty() ? homeDrive : home;
    while (root.size() > 1 && platform::IsPathSeparator(root.back())) root.pop_back();
    if (root.size() == 1 && platform::IsPathSeparator(root[0])) root.clear();
    p.installDir = root + platform::PathSeparator() + "QAVEX";
    return p;
}

void InitPathValues() {
    g_paths = DerivePathValues(platform::ExecutablePath(), platform::GetEnv("HOMEDRIVE"),
                               platform::GetEnv("HOME"));
}
