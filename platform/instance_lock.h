#pragma once
#include <memory>
#include <string>

namespace platform {

// What an attempt to become the one running copy found.
enum class InstanceClaim {
    Held,           // this process holds the lock now
    HeldElsewhere,  // another process of this user holds it
    Unavailable,    // no lock can be made here (no usable folder, the system refused)
};

// The per-user lock that lets one copy of the program run. Linux: flock on
// "<name>.lock" in $XDG_RUNTIME_DIR (a folder of the user's own), else in
// fallbackFolder (made when missing). Windows: the named mutex "Local\<name>"
// in the session's namespace; fallbackFolder is not used. The system lets go
// of the lock whenever the process ends, crashed or not, so no stale lock can
// block a later start. One controlling thread.
class InstanceLock {
public:
    InstanceLock();
    ~InstanceLock();  // lets go of the lock
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Tries once, without waiting; Held again when already held.
    InstanceClaim TryAcquire(const std::string& name, const std::string& fallbackFolder);
    bool Held() const;
    // Where the lock lives (the lock file, or the mutex's name); "" before a try.
    const std::string& Where() const { return m_where; }

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::string m_where;
};

}  // namespace platform
