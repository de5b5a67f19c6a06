#include <elf.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "brisken_version.h"
#include "platform/launcher.h"

namespace platform {
namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    void Close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

bool ReadAll(int fd, void* buf, size_t n) {
    auto* p = static_cast<char*>(buf);
    while (n > 0) {
        const ssize_t r = ::read(fd, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

void WriteAll(int fd, const void* buf, size_t n) {
    const auto* p = static_cast<const char*>(buf);
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return;
        p += w;
        n -= static_cast<size_t>(w);
    }
}

}  // namespace

int LaunchScriptDetached(const std::string& script, const std::string& workDir) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    Fd readEnd(fds[0]);
    Fd writeEnd(fds[1]);

    // Everything the children need is prepared here: after fork only
    // async-signal-safe calls are allowed.
    std::string scriptArg = script;
    char shell[] = "/bin/sh";
    char* argv[] = {shell, scriptArg.data(), nullptr};
    std::string folder = workDir;
    if (folder.empty()) {
        const size_t slash = script.rfind('/');
        if (slash != std::string::npos) folder = slash == 0 ? "/" : script.substr(0, slash);
    }
    const char* dir = folder.empty() ? nullptr : folder.c_str();
    const int wfd = writeEnd.get();

    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        // The middle process starts a new session and forks again, so the shell
        // is nobody's child of ours and never becomes our zombie.
        setsid();
        const pid_t shellPid = fork();
        if (shellPid != 0) {
            const int sent = shellPid > 0 ? static_cast<int>(shellPid) : -1;
            WriteAll(wfd, &sent, sizeof sent);
            _exit(0);
        }
        int err = 0;
        if (dir != nullptr && chdir(dir) != 0) err = errno;
        if (err == 0) {
            const int devnull = open("/dev/null", O_RDWR);
            if (devnull >= 0) {
                dup2(devnull, 0);
                dup2(devnull, 1);
                dup2(devnull, 2);
            }
            // Our pipe's write end is close-on-exec; everything else of ours goes.
            for (int fd = 3; fd < 1024; ++fd) {
                if (fd != wfd) close(fd);
            }
            execv(shell, argv);
            err = errno;
        }
        WriteAll(wfd, &err, sizeof err);
        _exit(127);
    }
    writeEnd.Close();
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int shellPid = -1;
    if (!ReadAll(readEnd.get(), &shellPid, sizeof shellPid) || shellPid <= 0) return -1;
    // EOF here means the exec went through (the pipe closed on exec).
    int err = 0;
    if (ReadAll(readEnd.get(), &err, sizeof err)) return -1;
    return shellPid;
}

int CurrentProcessId() { return static_cast<int>(getpid()); }

bool IsNativeExecutable(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char ident[EI_NIDENT] = {};
    if (!in.read(reinterpret_cast<char*>(ident), sizeof ident)) return false;
    if (std::memcmp(ident, ELFMAG, SELFMAG) != 0) return false;
    const unsigned char wantClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
    return ident[EI_CLASS] == wantClass;
}

std::string OwnFileVersion() { return BRISKEN_VERSION; }

// sh reads bytes: UTF-8 names go through as they are.
std::string ScriptFileBytes(const std::string& text) { return text; }

std::string ScriptPathText(const std::string& path) { return path; }

namespace {

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// True when the block device holding dir (or the disk of its partition) says
// it is removable.
bool OnRemovableDisk(const struct stat& st) {
    const std::string dev = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                            std::to_string(minor(st.st_dev));
    const std::string own = ReadSmallFile(dev + "/removable");
    if (!own.empty()) return own[0] == '1';
    // A partition: its disk is the folder above it.
    return ReadSmallFile(dev + "/../removable").rfind('1', 0) == 0;
}

}  // namespace

bool ScriptFolderUsable(const std::string& dir) {
    struct statfs fs {};
    struct stat st {};
    if (statfs(dir.c_str(), &fs) != 0 || stat(dir.c_str(), &st) != 0) return false;
    // NFS, SMB, CIFS (both signatures), AFS, 9p: a share is others' to write.
    const unsigned long type = static_cast<unsigned long>(fs.f_type);
    for (const unsigned long network :
         {0x6969UL, 0x517BUL, 0xFF534D42UL, 0xFE534D42UL, 0x5346414FUL, 0x01021997UL})
        if (type == network) return false;
    return !OnRemovableDisk(st);
}

void EndLaunchedScript(int pid) {
    if (pid <= 0) return;
    // Only while that pid still runs our shell: an id taken by another
    // process since is left alone.
    const std::string proc = "/proc/" + std::to_string(pid);
    if (ReadSmallFile(proc + "/cmdline").rfind(std::string("/bin/sh\0", 8), 0) != 0) return;
    if (::kill(pid, SIGKILL) != 0) return;
    // Not our child (it was started through a middle process): the system
    // reaps it; the wait is bounded.
    for (int i = 0; i < 100 && ::access(proc.c_str(), F_OK) == 0; ++i) {
        const std::string stat = ReadSmallFile(proc + "/stat");
        const size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z') break;
        ::usleep(20000);
    }
}

void ForgetLaunchedScript(int) {}

void RegisterCrashRestart() {}

}  // namespace platform
