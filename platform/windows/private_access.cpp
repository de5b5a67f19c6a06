#include "platform/windows/private_access.h"

// After windows.h, which it builds on.
#include <sddl.h>

#include <vector>

#include "platform/windows/handle.h"

namespace platform::win {

namespace {

// Who the running program is: the token's user, and the owner its new
// objects get (an elevated administrator's are owned by Administrators).
struct Identity {
    std::vector<BYTE> user;
    std::vector<BYTE> owner;
    std::wstring userText;  // the user's SID as SDDL text
};

std::vector<BYTE> CopyOfSid(PSID sid) {
    if (sid == nullptr || !IsValidSid(sid)) return {};
    const DWORD length = GetLengthSid(sid);
    std::vector<BYTE> out(length);
    if (!CopySid(length, out.data(), sid)) return {};
    return out;
}

std::vector<BYTE> TokenSid(HANDLE token, TOKEN_INFORMATION_CLASS what) {
    DWORD size = 0;
    GetTokenInformation(token, what, nullptr, 0, &size);
    if (size == 0) return {};
    std::vector<BYTE> buf(size);
    if (!GetTokenInformation(token, what, buf.data(), size, &size)) return {};
    if (what == TokenUser) return CopyOfSid(reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid);
    return CopyOfSid(reinterpret_cast<TOKEN_OWNER*>(buf.data())->Owner);
}

// The process's identity does not change while it runs: read once.
const Identity& Me() {
    static const Identity me = [] {
        Identity id;
        HANDLE raw = nullptr;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
            Handle token(raw);
            id.user = TokenSid(token.get(), TokenUser);
            id.owner = TokenSid(token.get(), TokenOwner);
        }
        wchar_t* text = nullptr;
        if (!id.user.empty() && ConvertSidToStringSidW(id.user.data(), &text)) {
            id.userText = text;
            LocalFree(text);
        }
        return id;
    }();
    return me;
}

bool SameSid(PSID sid, const std::vector<BYTE>& other) {
    return !other.empty() && EqualSid(sid, const_cast<BYTE*>(other.data()));
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
    BYTE buf[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof buf;
    return CreateWellKnownSid(type, nullptr, buf, &size) && EqualSid(sid, buf);
}

bool IsTrustedOwner(PSID sid) {
    return IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid);
}

bool IsOurs(PSID owner) {
    const Identity& me = Me();
    return owner != nullptr && (SameSid(owner, me.user) || SameSid(owner, me.owner));
}

// Every right by which an entry lets someone change a file or folder, or what
// is in it, or its security.
constexpr DWORD kChanging = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                            FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                            WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;

// True when an entry of the DACL lets anyone outside `allowed` in (for
// Private: at all; for Program: to change it). A null DACL lets everyone in;
// entries of kinds not known here count as letting in; entries that apply
// only to what is made inside do not count.
template <typename Allowed>
bool LetsOthersIn(PACL dacl, bool changingOnly, Allowed allowed) {
    if (dacl == nullptr) return true;
    ACL_SIZE_INFORMATION info{};
    if (!GetAclInformation(dacl, &info, sizeof info, AclSizeInformation)) return true;
    for (DWORD i = 0; i < info.AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return true;
        const auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return true;
        const auto* allow = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (changingOnly && (allow->Mask & kChanging) == 0) continue;
        if (!allowed(const_cast<DWORD*>(&allow->SidStart))) return true;
    }
    return false;
}

std::wstring DaclText(PSECURITY_DESCRIPTOR sd) {
    wchar_t* text = nullptr;
    if (sd == nullptr || !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                             sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return {};
    std::wstring out = text;
    LocalFree(text);
    return out;
}

bool IsLink(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) return true;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
    // Other reparse points (a file kept in the cloud, a deduplicated one)
    // stay where they are; a name surrogate leads somewhere else.
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) return true;
    return IsReparseTagNameSurrogate(tag.ReparseTag);
}

}  // namespace

SecurityCalls& Calls() {
    static SecurityCalls calls;
    return calls;
}

PrivateSecurity::PrivateSecurity(PrivateKind kind, Sharing sharing) {
    const Identity& me = Me();
    if (me.userText.empty()) return;
    // FA: full control; 0x1200a9: read and execute. OICI: files and folders
    // made inside inherit the entry. The owner is the user also when an
    // elevated administrator makes it, so the user's ordinary sessions own it.
    const std::wstring inherit = kind == PrivateKind::Folder ? L"OICI" : L"";
    std::wstring sddl = L"O:" + me.userText + L"D:P";
    for (const std::wstring& who : {std::wstring(L"SY"), std::wstring(L"BA"), me.userText})
        sddl += L"(A;" + inherit + L";FA;;;" + who + L")";
    if (sharing == Sharing::Program) sddl += L"(A;" + inherit + L";0x1200a9;;;BU)";
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &m_sd,
                                                              nullptr))
        m_sd = nullptr;
    m_attributes.nLength = sizeof m_attributes;
    m_attributes.lpSecurityDescriptor = m_sd;
    m_attributes.bInheritHandle = FALSE;
}

PrivateSecurity::~PrivateSecurity() {
    if (m_sd != nullptr) LocalFree(m_sd);
}

PACL PrivateSecurity::Dacl() const {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (m_sd == nullptr || !GetSecurityDescriptorDacl(m_sd, &present, &dacl, &defaulted) ||
        !present)
        return nullptr;
    return dacl;
}

HANDLE OpenForSecurity(const std::wstring& path, bool folder) {
    // The link itself, not what it leads to; a folder needs backup semantics
    // to be opened at all. The owner may always change the DACL; anyone else
    // opens to read it.
    const DWORD flags =
        FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL);
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE h = Calls().createFile(path.c_str(), READ_CONTROL | WRITE_DAC, share, nullptr,
                                  OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        h = Calls().createFile(path.c_str(), READ_CONTROL, share, nullptr, OPEN_EXISTING, flags,
                               nullptr);
    return h;
}

bool IsOwn(HANDLE handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (IsLink(handle) || Calls().getSecurity(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                              &owner, nullptr, nullptr, nullptr,
                                              &sd) != ERROR_SUCCESS)
        return false;
    const bool ours = IsOurs(owner);
    LocalFree(sd);
    return ours;
}

bool Secure(HANDLE handle, PrivateKind kind, Sharing sharing) {
    if (handle == INVALID_HANDLE_VALUE || IsLink(handle)) return false;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (Calls().getSecurity(handle, SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                            nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS)
        return false;
    const Identity& me = Me();
    const auto usable = [&] {
        if (sharing == Sharing::Private)
            return (IsOurs(owner) || IsTrustedOwner(owner)) &&
                   !LetsOthersIn(dacl, false, [&](PSID sid) {
                       return IsOurs(sid) || SameSid(sid, me.user) || IsTrustedOwner(sid);
                   });
        return !LetsOthersIn(dacl, true, [&](PSID sid) {
            return EqualSid(sid, owner) || SameSid(sid, me.user) || IsTrustedOwner(sid);
        });
    };
    bool ok = false;
    if (IsOurs(owner)) {
        // Exactly the access of its sharing, narrower or wider before.
        PrivateSecurity wanted(kind, sharing);
        ok = DaclText(sd) == DaclText(wanted.Attributes() ? wanted.Attributes()->lpSecurityDescriptor
                                                          : nullptr) &&
             wanted.Dacl() != nullptr;
        if (!ok && wanted.Dacl() != nullptr)
            ok = Calls().setSecurity(handle, SE_FILE_OBJECT,
                                     DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                     nullptr, nullptr, wanted.Dacl(), nullptr) == ERROR_SUCCESS;
    }
    if (!ok) ok = owner != nullptr && usable();
    LocalFree(sd);
    return ok;
}

}  // namespace platform::win
