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

// The only ones the private DACL lets in.
bool MayHaveAccess(PSID sid) {
    const Identity& me = Me();
    return SameSid(sid, me.user) || SameSid(sid, me.owner) || IsWellKnown(sid, WinLocalSystemSid) ||
           IsWellKnown(sid, WinBuiltinAdministratorsSid);
}

// Protected from inheritance and allowing no one but those three. A null
// DACL allows everyone; entries of kinds not known here count as allowing.
bool IsPrivate(PSECURITY_DESCRIPTOR sd, PACL dacl) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(sd, &control, &revision) ||
        (control & SE_DACL_PROTECTED) == 0 || dacl == nullptr)
        return false;
    ACL_SIZE_INFORMATION info{};
    if (!GetAclInformation(dacl, &info, sizeof info, AclSizeInformation)) return false;
    for (DWORD i = 0; i < info.AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return false;
        const auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
        if (!MayHaveAccess(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart)) return false;
    }
    return true;
}

}  // namespace

SecurityCalls& Calls() {
    static SecurityCalls calls;
    return calls;
}

PrivateSecurity::PrivateSecurity(PrivateKind kind) {
    const Identity& me = Me();
    if (me.userText.empty()) return;
    // FA: full control. OICI: files and folders made inside inherit the entry.
    const std::wstring inherit = kind == PrivateKind::Folder ? L"OICI" : L"";
    std::wstring sddl = L"D:P";
    for (const std::wstring& who : {std::wstring(L"SY"), std::wstring(L"BA"), me.userText})
        sddl += L"(A;" + inherit + L";FA;;;" + who + L")";
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

bool MakePrivateIfOurs(const std::wstring& path, PrivateKind kind) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (Calls().getNamed(path.c_str(), SE_FILE_OBJECT,
                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                         &dacl, nullptr, &sd) != ERROR_SUCCESS)
        return false;
    const Identity& me = Me();
    const bool ours = owner != nullptr && (SameSid(owner, me.user) || SameSid(owner, me.owner));
    const bool alreadyPrivate = ours && IsPrivate(sd, dacl);
    LocalFree(sd);
    if (!ours || alreadyPrivate) return true;
    PrivateSecurity security(kind);
    PACL privateDacl = security.Dacl();
    if (privateDacl == nullptr) return false;
    return Calls().setNamed(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, privateDacl, nullptr) == ERROR_SUCCESS;
}

}  // namespace platform::win
