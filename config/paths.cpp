#include "config/paths.h"

#include "platform/system.h"

PathValues g_paths;

PathValues DerivePathValues(const std::string& exePath, const std::string& homeDrive,
                            const std::string& home) {
    PathValues p;
    p.exePath = exePath;
    const auto slash = exePath.find_last_of('/');
    p.exeDir = slash == std::string::npos ? std::string() : exePath.substr(0, slash + 1);
    p.exeName = slash == std::string::npos ? exePath : exePath.substr(slash + 1);
    p.exeBase = p.exeName;
    static const std::string kExe = ".exe";
    if (p.exeBase.size() > kExe.size() &&
        p.exeBase.compare(p.exeBase.size() - kExe.size(), kExe.size(), kExe) == 0) {
        p.exeBase.resize(p.exeBase.size() - kExe.size());
    }
    p.iniName = p.exeBase + ".ini";
    p.iniPath = p.exeDir + p.iniName;
    std::string root = !homeDrive.empty() ? homeDrive : home;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    if (root == "/") root.clear();
    p.installDir = root + "/QAVEX";
    return p;
}

void InitPathValues() {
    g_paths = DerivePathValues(platform::ExecutablePath(), platform::GetEnv("HOMEDRIVE"),
                               platform::GetEnv("HOME"));
}
