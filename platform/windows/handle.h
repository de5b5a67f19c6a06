#pragma once
#include <windows.h>

#include <utility>

// Owners for the Windows handles the backend holds: each closes its handle
// once, on destruction or reset.
namespace platform::win {

class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : m_h(h) {}
    ~Handle() { Reset(); }
    Handle(Handle&& o) noexcept : m_h(std::exchange(o.m_h, nullptr)) {}
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            Reset();
            m_h = std::exchange(o.m_h, nullptr);
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE get() const { return m_h; }
    // False for both "no handle" spellings Windows uses.
    bool valid() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE h = nullptr) {
        if (valid()) CloseHandle(m_h);
        m_h = h;
    }

private:
    HANDLE m_h = nullptr;
};

class RegKey {
public:
    RegKey() = default;
    ~RegKey() {
        if (m_key != nullptr) RegCloseKey(m_key);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY get() const { return m_key; }
    HKEY* put() { return &m_key; }

private:
    HKEY m_key = nullptr;
};

}  // namespace platform::win
