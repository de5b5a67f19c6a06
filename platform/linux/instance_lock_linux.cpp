#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/instance_lock.h"
#include "platform/system.h"

namespace platform {

namespace {

// A folder counts only when it is the user's own and nobody else
// may write into it but the user (and the group, where users have groups of
// their own); anything else could be a trap laid by another user.
bool PrivateFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && path.front() == '/' && ::stat(path.c_str(), &st) == 0 &&
           S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & S_IWOTH) == 0;
}

}  // namespace

struct InstanceLock::Impl {
    int fd = -1;
};

InstanceLock::InstanceLock() : m_impl(std::make_unique<Impl>()) {}

InstanceLock::~InstanceLock() {
    if (m_impl->fd >= 0) ::close(m_impl->fd);  // closing the file lets go of the lock
}

bool InstanceLock::Held() const { return m_impl->fd >= 0; }

InstanceClaim InstanceLock::TryAcquire(const std::string& name, const std::string& fallbackFolder) {
    if (Held()) return InstanceClaim::Held;
    std::string folder = GetEnv("XDG_RUNTIME_DIR");
    if (!PrivateFolder(folder)) {
        folder = fallbackFolder;
        if (!folder.empty() && !IsDirectory(folder)) MakeDirectory(folder);
        if (!PrivateFolder(folder)) return InstanceClaim::Unavailable;
    }
    m_where = JoinPath(folder, name + ".lock");
    // Never through a link, never inherited by the scripts the program starts.
    const int fd = ::open(m_where.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return InstanceClaim::Unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return err == EWOULDBLOCK ? InstanceClaim::HeldElsewhere : InstanceClaim::Unavailable;
    }
    m_impl->fd = fd;
    return InstanceClaim::Held;
}

}  // namespace platform
