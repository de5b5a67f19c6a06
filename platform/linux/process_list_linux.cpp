#include "platform/process_list.h"

#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <memory>

namespace platform {
namespace {

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

bool AllDigits(const char* s) {
    if (*s == '\0') return false;
    for (; *s != '\0'; ++s) {
        if (!std::isdigit(static_cast<unsigned char>(*s))) return false;
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// The state letter of /proc/<pid>/stat: the first field after the command's
// closing parenthesis (the command itself may hold blanks and parentheses).
bool IsZombie(const std::string& pidDir) {
    std::string stat;
    if (!ReadWholeFile(pidDir + "/stat", stat)) return false;
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return false;
    return stat[close + 2] == 'Z';
}

// The executable's file name: the last component of the exe link, else the
// kernel's short command name. Empty when neither can be read.
std::string ExecutableFileName(const std::string& pidDir) {
    char target[4096];
    const ssize_t n = readlink((pidDir + "/exe").c_str(), target, sizeof target - 1);
    if (n > 0) {
        const std::string path(target, static_cast<size_t>(n));
        const auto slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }
    std::string comm;
    if (!ReadWholeFile(pidDir + "/comm", comm)) return {};
    while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\r')) comm.pop_back();
    return comm;
}

}  // namespace

int CountRunningCopies(const std::string& name) { return CountRunningCopies(name, "/proc"); }

int CountRunningCopies(const std::string& name, const std::string& procRoot) {
    // An empty name would match every process.
    if (name.empty()) return 0;
    std::unique_ptr<DIR, DirCloser> dir(opendir(procRoot.c_str()));
    if (!dir) return 0;
    int count = 0;
    while (const dirent* entry = readdir(dir.get())) {
        if (!AllDigits(entry->d_name)) continue;
        const std::string pidDir = procRoot + "/" + entry->d_name;
        if (IsZombie(pidDir)) continue;
        const std::string file = ExecutableFileName(pidDir);
        if (file.empty()) continue;
        if (file.compare(0, name.size(), name) == 0) ++count;
    }
    return count;
}

}  // namespace platform
