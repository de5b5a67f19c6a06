#include <windows.h>

#include "platform/instance_lock.h"
#include "platform/windows/handle.h"
#include "platform/windows/text.h"

namespace platform {

struct InstanceLock::Impl {
    win::Handle mutex;
};

InstanceLock::InstanceLock() : m_impl(std::make_unique<Impl>()) {}

// Closing the last handle removes the named mutex; Windows closes it for a
// process that ends in any way.
InstanceLock::~InstanceLock() = default;

bool InstanceLock::Held() const { return m_impl->mutex.valid(); }

InstanceClaim InstanceLock::TryAcquire(const std::string& name, const std::string&) {
    if (Held()) return InstanceClaim::Held;
    // "Local\" is the session's namespace: one copy per logged-on user. A
    // backslash is the namespace separator, so none may stand in the name.
    // File names on Windows do not differ by letter case, so neither does the
    // mutex: Brisken.exe and brisken.exe are the same program.
    std::wstring clean = win::Wide(name);
    for (wchar_t& c : clean) {
        if (c == L'\\') c = L'_';
    }
    if (!clean.empty()) CharLowerBuffW(clean.data(), static_cast<DWORD>(clean.size()));
    const std::wstring where = L"Local\\" + clean;
    m_where = win::Utf8(where);
    HANDLE h = CreateMutexW(nullptr, FALSE, where.c_str());
    const DWORD err = GetLastError();
    if (h == nullptr) {
        // A mutex of that name made by someone we may not open is someone else's.
        return err == ERROR_ACCESS_DENIED ? InstanceClaim::HeldElsewhere
                                          : InstanceClaim::Unavailable;
    }
    if (err == ERROR_ALREADY_EXISTS) {
        CloseHandle(h);
        return InstanceClaim::HeldElsewhere;
    }
    m_impl->mutex.Reset(h);
    return InstanceClaim::Held;
}

}  // namespace platform
