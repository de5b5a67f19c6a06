#include "platform/system.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::string ExecutablePath() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string GetEnv(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

bool PathExists(const std::string& path) {
    struct stat st{};
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st{};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0755) == 0) return true;
    return errno == EEXIST && IsDirectory(path);
}

std::string LastErrorText() { return std::strerror(errno); }

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    const bool same = std::filesystem::equivalent(a, b, ec);
    return !ec && same;
}

char PathSeparator() { return '/'; }

std::string ExecutableBaseName(const std::string& exeName) {
    static const std::string kExe = ".exe";
    if (exeName.size() > kExe.size() &&
        exeName.compare(exeName.size() - kExe.size(), kExe.size(), kExe) == 0) {
        return exeName.substr(0, exeName.size() - kExe.size());
    }
    return exeName;
}

bool IsPathSeparator(char c) { return c == '/'; }

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

std::filesystem::path FsPath(const std::string& utf8) { return std::filesystem::path(utf8); }

std::string PathText(const std::filesystem::path& path) { return path.string(); }

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

namespace {

enum class Sharing { Private, Program };

// Judges an open file or folder by its owner and mode (see system.h): the
// user's own loses every group and other bit; another's is used when it is
// root's and private (Private) or when nobody but its owner may write it
// (Program).
bool Secure(int fd, bool folder, Sharing sharing) {
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)))
        return false;
    if (st.st_uid == getuid())
        return (st.st_mode & 077) == 0 || fchmod(fd, st.st_mode & 0700) == 0;
    if (sharing == Sharing::Private) return st.st_uid == 0 && (st.st_mode & 077) == 0;
    return (st.st_mode & 022) == 0;
}

// The file or folder itself, never what a link at path leads to; a FIFO
// never blocks the open.
int OpenExisting(const std::string& path, bool folder) {
    return open(path.c_str(),
                O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (folder ? O_DIRECTORY : 0));
}

bool MakeFolder(const std::string& path, Sharing sharing) {
    if (path.empty()) return false;
    if (mkdir(path.c_str(), 0700) == 0) return true;
    if (errno != EEXIST) return false;
    const int fd = OpenExisting(path, true);
    const bool ok = Secure(fd, true, sharing);
    if (fd >= 0) close(fd);
    return ok;
}

bool SecureFile(const std::string& path, Sharing sharing) {
    const int fd = OpenExisting(path, false);
    const bool ok = Secure(fd, false, sharing);
    if (fd >= 0) close(fd);
    return ok;
}

}  // namespace

bool MakePrivateDirectory(const std::string& path) { return MakeFolder(path, Sharing::Private); }

bool MakeProgramDirectory(const std::string& path) { return MakeFolder(path, Sharing::Program); }

bool MakeProgramFile(const std::string& path) { return SecureFile(path, Sharing::Program); }

bool MakeFilePrivate(const std::string& path) { return SecureFile(path, Sharing::Private); }

bool IsOwnWritableDirectory(const std::string& path) {
    const int fd = path.empty() ? -1 : OpenExisting(path, true);
    struct stat st {};
    const bool own = fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) &&
                     st.st_uid == getuid() && (st.st_mode & 0300) == 0300;
    if (fd >= 0) close(fd);
    return own;
}

bool AppendToPrivateFile(const std::string& path, const std::string& bytes) {
    const int fd =
        open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (!Secure(fd, false, Sharing::Private)) {
        close(fd);
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return close(fd) == 0 && done == bytes.size();
}

std::FILE* CreatePrivateFile(const std::string& path) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT) return nullptr;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    std::FILE* f = fdopen(fd, "wb");
    if (f == nullptr) close(fd);
    return f;
}

}  // namespace platform
