#pragma once
#include <windows.h>
// After windows.h, which it builds on.
#include <aclapi.h>

#include <string>

// The access the trace, the install folder and the update's files get on
// Windows: an explicit, protected DACL with full control for the user who runs
// the program, SYSTEM and Administrators, and nobody else. A folder made in the
// root of a drive would otherwise inherit "Authenticated Users: Modify".
namespace platform::win {

enum class PrivateKind {
    Folder,  // its entries are inherited by what is made inside
    File,
};

// A security descriptor with the private DACL, for SECURITY_ATTRIBUTES at
// creation. Attributes() is null when the descriptor could not be built.
class PrivateSecurity {
public:
    explicit PrivateSecurity(PrivateKind kind);
    ~PrivateSecurity();
    PrivateSecurity(const PrivateSecurity&) = delete;
    PrivateSecurity& operator=(const PrivateSecurity&) = delete;

    SECURITY_ATTRIBUTES* Attributes() { return m_sd != nullptr ? &m_attributes : nullptr; }
    // The DACL inside the descriptor (null when there is none).
    PACL Dacl() const;

private:
    PSECURITY_DESCRIPTOR m_sd = nullptr;
    SECURITY_ATTRIBUTES m_attributes{};
};

// The calls that give a file its security and read it back. A test replaces
// them where the system keeps no DACL on its files (Wine maps them to modes).
struct SecurityCalls {
    BOOL(WINAPI* createDirectory)(LPCWSTR, LPSECURITY_ATTRIBUTES) = CreateDirectoryW;
    HANDLE(WINAPI* createFile)
    (LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) = CreateFileW;
    DWORD(WINAPI* getNamed)
    (LPCWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*, PACL*,
     PSECURITY_DESCRIPTOR*) = GetNamedSecurityInfoW;
    DWORD(WINAPI* setNamed)
    (LPWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL) = SetNamedSecurityInfoW;
};
SecurityCalls& Calls();

// For a file or folder that exists: when it belongs to the running user and
// its DACL allows anyone else, or is not protected, it gets the private DACL
// (a folder's inheriting contents follow). One of another user's is left as it
// is. True when it is private afterwards or was left alone.
bool MakePrivateIfOurs(const std::wstring& path, PrivateKind kind);

}  // namespace platform::win
