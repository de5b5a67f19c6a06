#pragma once
#include <windows.h>
// After windows.h, which it builds on.
#include <aclapi.h>

#include <string>

// The access the files of the program get on Windows. Private (the trace, the
// update's download): an explicit, protected DACL with full control for the
// user who runs the program, SYSTEM and Administrators, and nobody else.
// Program (the install folder and the program in it, shared by every account
// of the PC): the same three change it, every local user (Users) reads and
// runs it. A folder made in the root of a drive would otherwise inherit
// "Authenticated Users: Modify".
namespace platform::win {

enum class PrivateKind {
    Folder,  // its entries are inherited by what is made inside
    File,
};

enum class Sharing {
    Private,
    Program,
};

// A security descriptor with the DACL of its sharing (owner: the user), for
// SECURITY_ATTRIBUTES at creation. Attributes() is null when the descriptor
// could not be built.
class PrivateSecurity {
public:
    explicit PrivateSecurity(PrivateKind kind, Sharing sharing = Sharing::Private);
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

// The calls that make a file and give it its security and read it back. A
// test replaces them where the system keeps no DACL on its files (Wine maps
// them to modes).
struct SecurityCalls {
    BOOL(WINAPI* createDirectory)(LPCWSTR, LPSECURITY_ATTRIBUTES) = CreateDirectoryW;
    HANDLE(WINAPI* createFile)
    (LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) = CreateFileW;
    DWORD(WINAPI* getSecurity)
    (HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*, PACL*,
     PSECURITY_DESCRIPTOR*) = GetSecurityInfo;
    DWORD(WINAPI* setSecurity)
    (HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL) = SetSecurityInfo;
};
SecurityCalls& Calls();

// Opens what exists at path itself (a link is not followed) for reading and,
// where the user may, changing its security. Invalid when it cannot be opened.
HANDLE OpenForSecurity(const std::wstring& path, bool folder);

// Judges an open file or folder for its use, by what its handle says. One of
// the user's own gets exactly the access of its sharing. One of another
// owner may be used when nobody but its owner, SYSTEM, Administrators and the
// user may change it (Program), or when it belongs to SYSTEM or
// Administrators and nobody but those and the user may open it (Private). A
// link (symbolic link, junction) is never used. True when it may be used.
bool Secure(HANDLE handle, PrivateKind kind, Sharing sharing);

// True when the open folder belongs to the user (no link).
bool IsOwn(HANDLE handle);

}  // namespace platform::win
