#include "platform/autostart.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace platform {

namespace {

std::string EnvValue(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

bool ValidFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// mkdir -p; the folders are private to the user like the rest of ~/.config.
bool MakeFolders(const std::string& path) {
    if (path.empty()) return false;
    struct stat st{};
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash))) {
        return false;
    }
    if (mkdir(path.c_str(), 0700) == 0) return true;
    return errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool Close() {
        if (m_fd < 0) return true;
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Exec= is a desktop-entry string: a backslash is doubled, and a literal percent
// sign is "%%" because % starts a field code.
std::string ExecValue(const std::string& command) {
    std::string out;
    for (char c : command) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '%')
            out += "%%";
        else
            out += c;
    }
    return out;
}

// The per-user folder of session autostart entries: $XDG_CONFIG_HOME/autostart,
// else $HOME/.config/autostart; "" when neither variable gives a folder.
std::string AutostartFolder() {
    std::string config = EnvValue("XDG_CONFIG_HOME");
    // The XDG rules ignore a relative value.
    if (config.empty() || config.front() != '/') {
        const std::string home = EnvValue("HOME");
        if (home.empty()) return {};
        config = home + "/.config";
    }
    while (config.size() > 1 && config.back() == '/') config.pop_back();
    return config + "/autostart";
}

std::string EntryPath(const std::string& name) {
    const std::string folder = AutostartFolder();
    if (folder.empty() || !ValidFileName(name + ".desktop")) return {};
    return folder + "/" + name + ".desktop";
}

}  // namespace

bool SetAutostart(const std::string& name, const std::string& command) {
    // A line break cannot be held by a desktop-entry value.
    if (name.empty() || command.find_first_of("\r\n") != std::string::npos) return false;
    const std::string target = EntryPath(name);
    if (target.empty() || !MakeFolders(AutostartFolder())) return false;
    const std::string contents =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=" + name + "\n"
        "Exec=" + ExecValue(command) + "\n"
        "X-GNOME-Autostart-enabled=true\n";
    // Written beside its final name and renamed into place, so an existing
    // entry is replaced whole or not at all.
    std::string tmpl = target + ".XXXXXX";
    Fd fd(::mkstemp(tmpl.data()));
    if (fd.get() < 0) return false;
    const bool written = WriteAll(fd.get(), contents) && ::fchmod(fd.get(), 0644) == 0 &&
                         ::fsync(fd.get()) == 0;
    if (!fd.Close() || !written || ::rename(tmpl.c_str(), target.c_str()) != 0) {
        ::unlink(tmpl.c_str());
        return false;
    }
    return true;
}

bool RemoveAutostart(const std::string& name) {
    const std::string path = EntryPath(name);
    return !path.empty() && ::unlink(path.c_str()) == 0;
}

bool AutostartExists(const std::string& name) {
    const std::string path = EntryPath(name);
    struct stat st{};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

std::string AutostartCommand(const std::string& exePath) {
    // Inside a quoted Exec argument these four characters must be escaped; an
    // ordinary path needs none of it and reads as "<path>".
    std::string quoted = "\"";
    for (char c : exePath) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

}  // namespace platform
