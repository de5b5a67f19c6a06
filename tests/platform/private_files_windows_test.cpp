// On Windows the trace, the install folder and the update's download are the
// user's alone (read back with GetNamedSecurityInfoW), and a trace line is
// written while another program holds the day's file.
// windows.h first, the headers that build on it after it.
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>

#include "log/traffic_log.h"
#include "platform/system.h"
#include "platform/windows/private_access.h"
#include "platform/windows/text.h"
#include "tests/support/manual_clock.h"
#include "tests/update/install_fixture.h"

namespace {

namespace fs = std::filesystem;
using platform::win::Wide;

std::string SidText(PSID sid) {
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) return "?";
    std::string out = text;
    LocalFree(text);
    return out;
}

std::string MySid() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE buf[256];
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, buf, sizeof buf, &size);
    CloseHandle(token);
    return SidText(reinterpret_cast<TOKEN_USER*>(buf)->User.Sid);
}

std::wstring SddlOf(PSECURITY_DESCRIPTOR sd, SECURITY_INFORMATION what) {
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, what, &text,
                                                              nullptr))
        return {};
    std::wstring out = text;
    LocalFree(text);
    return out;
}

// Wine keeps no DACL on a file (it maps one to a Unix mode). There, the
// security calls are stood in for by a store of descriptors by path, which
// creation fills from the SECURITY_ATTRIBUTES given, as Windows does.
struct DaclStore {
    static std::map<std::wstring, std::wstring>& Sddl() {
        static std::map<std::wstring, std::wstring> store;
        return store;
    }
    static std::wstring Key(LPCWSTR path) {
        std::wstring key = path;
        for (wchar_t& c : key) c = c == L'/' ? L'\\' : towlower(c);
        return key;
    }
    static void Record(LPCWSTR path, LPSECURITY_ATTRIBUTES sa) {
        if (sa != nullptr && sa->lpSecurityDescriptor != nullptr)
            Sddl()[Key(path)] = SddlOf(sa->lpSecurityDescriptor, DACL_SECURITY_INFORMATION);
    }
    static BOOL WINAPI MakeFolder(LPCWSTR path, LPSECURITY_ATTRIBUTES sa) {
        if (!CreateDirectoryW(path, nullptr)) return FALSE;
        Record(path, sa);
        return TRUE;
    }
    static HANDLE WINAPI MakeFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                  DWORD disposition, DWORD flags, HANDLE model) {
        const bool existed = GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
        HANDLE h = CreateFileW(path, access, share, nullptr, disposition, flags, model);
        const DWORD error = GetLastError();
        if (h != INVALID_HANDLE_VALUE && !existed) Record(path, sa);
        SetLastError(error);
        return h;
    }
    static DWORD WINAPI GetNamed(LPCWSTR path, SE_OBJECT_TYPE type, SECURITY_INFORMATION what,
                                 PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                 PSECURITY_DESCRIPTOR* sd) {
        const auto found = Sddl().find(Key(path));
        if (found == Sddl().end())
            return GetNamedSecurityInfoW(path, type, what, owner, group, dacl, sacl, sd);
        std::wstring text = found->second;
        if (text.rfind(L"O:", 0) != 0) text = L"O:" + platform::win::Wide(MySid()) + text;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, sd,
                                                                  nullptr))
            return ERROR_INVALID_SECURITY_DESCR;
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        if (owner != nullptr) GetSecurityDescriptorOwner(*sd, owner, &defaulted);
        if (dacl != nullptr) GetSecurityDescriptorDacl(*sd, &present, dacl, &defaulted);
        if (group != nullptr) *group = nullptr;
        if (sacl != nullptr) *sacl = nullptr;
        return ERROR_SUCCESS;
    }
    static DWORD WINAPI SetNamed(LPWSTR path, SE_OBJECT_TYPE, SECURITY_INFORMATION what, PSID, PSID,
                                 PACL dacl, PACL) {
        SECURITY_DESCRIPTOR sd;
        InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&sd, TRUE, dacl, FALSE);
        if (what & PROTECTED_DACL_SECURITY_INFORMATION)
            SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        std::wstring& text = Sddl()[Key(path)];
        const std::wstring owner =
            text.rfind(L"O:", 0) == 0 ? text.substr(0, text.find(L"D:")) : L"";
        text = owner + SddlOf(&sd, DACL_SECURITY_INFORMATION);
        return ERROR_SUCCESS;
    }
};

// Whom the DACL lets in (sorted SIDs), with "protected" first when it does
// not inherit; a null DACL lets in everyone (S-1-1-0).
std::vector<std::string> AccessOf(const std::string& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (platform::win::Calls().getNamed(Wide(path).c_str(), SE_FILE_OBJECT,
                                        DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                        &sd) != ERROR_SUCCESS)
        return {"unreadable"};
    std::vector<std::string> who;
    if (dacl == nullptr) who.push_back("S-1-1-0");
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        GetAce(dacl, i, &ace);
        if (static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE)
            who.push_back(SidText(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart));
    }
    std::sort(who.begin(), who.end());
    who.erase(std::unique(who.begin(), who.end()), who.end());
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(sd, &control, &revision);
    if (control & SE_DACL_PROTECTED) who.insert(who.begin(), "protected");
    LocalFree(sd);
    return who;
}

// What C:\ gives a folder made in it: Everyone, Authenticated Users, Users.
const std::wstring kWide = L"D:(A;OICI;FA;;;WD)(A;OICI;0x1301bf;;;AU)(A;OICI;0x1200a9;;;BU)";

// Makes a file or folder with a descriptor (owner "O:..." and DACL).
void MakeWith(const std::string& path, bool folder, const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                     &sd, nullptr));
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    auto& calls = platform::win::Calls();
    if (folder) {
        ASSERT_TRUE(calls.createDirectory(Wide(path).c_str(), &sa));
    } else {
        HANDLE h = calls.createFile(Wide(path).c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
    }
    if (sddl.rfind(L"O:", 0) == 0) DaclStore::Sddl()[DaclStore::Key(Wide(path).c_str())] = sddl;
    LocalFree(sd);
}

class PrivateFiles : public InstallFixture {
protected:
    void SetUp() override {
        InstallFixture::SetUp();
        // Does the system keep what it is given?
        const std::string probe = home / "probe";
        PSECURITY_DESCRIPTOR sd = nullptr;
        ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)", SDDL_REVISION_1,
                                                             &sd, nullptr);
        SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
        CreateDirectoryW(Wide(probe).c_str(), &sa);
        LocalFree(sd);
        if (AccessOf(probe) != std::vector<std::string>{"protected", "S-1-5-18"}) {
            std::cout << "This system keeps no DACL on files: a store stands in.\n";
            auto& calls = platform::win::Calls();
            calls.createDirectory = &DaclStore::MakeFolder;
            calls.createFile = &DaclStore::MakeFile;
            calls.getNamed = &DaclStore::GetNamed;
            calls.setNamed = &DaclStore::SetNamed;
        }
    }
    void TearDown() override {
        platform::win::Calls() = {};
        DaclStore::Sddl().clear();
        ConfigureTrafficLog("", "", {});
        InstallFixture::TearDown();
    }
    std::vector<std::string> Private() const {
        std::vector<std::string> who = {MySid(), "S-1-5-18", "S-1-5-32-544"};
        std::sort(who.begin(), who.end());
        who.insert(who.begin(), "protected");
        return who;
    }
    ManualClock clock{platform::LocalTime{2024, 3, 5, 9, 5, 3, 120}};
};

TEST_F(PrivateFiles, TraceInstallFolderAndDownloadAreTheUsersAlone) {
    const auto log = [&](const std::string& folder) {
        ConfigureTrafficLog(folder, "gate", clock.AsClock());
        WriteTrafficLog(TrafficKind::Event, "Serial CLOSE", 0);
    };
    struct Case {
        const char* name;
        std::function<void()> before;
        std::function<void()> act;
        std::vector<std::string> paths;
        bool tightened;  // false: left as it was
    } cases[] = {
        {"a fresh trace folder and its file",
         [&] { fs::create_directories(home / "log1"); },
         [&] { log(home / "log1/CATLOG"); },
         {home / "log1/CATLOG", home / "log1/CATLOG/gate_20240305.LOG"},
         true},
        {"a trace folder and file made before with wide access",
         [&] {
             fs::create_directories(home / "log2");
             MakeWith(home / "log2/CATLOG", true, kWide);
             MakeWith(home / "log2/CATLOG/gate_20240305.LOG", false, kWide);
         },
         [&] { log(home / "log2/CATLOG"); },
         {home / "log2/CATLOG", home / "log2/CATLOG/gate_20240305.LOG"},
         true},
        {"a fresh install folder", [] {}, [&] { Install(); }, {home / "QAVEX"}, true},
        {"an install folder made before with wide access",
         [&] {
             fs::remove_all(home / "QAVEX");
             MakeWith(home / "QAVEX", true, kWide);
             ResetUpdateState();
         },
         [&] { Install(); },
         {home / "QAVEX"},
         true},
        {"a download over a wide file left behind",
         [&] { MakeWith(home / "UpdateFile.sob", false, kWide); },
         [&] { std::fclose(platform::CreatePrivateFile(home / "UpdateFile.sob")); },
         {home / "UpdateFile.sob"},
         true},
        {"a self-management script in the install folder",
         [] {},
         [&] { UninstallSelf(options); },
         {home / "QAVEX/killfileall.bat"},
         true},
        {"another user's trace folder",
         [&] {
             fs::create_directories(home / "log3");
             MakeWith(home / "log3/CATLOG", true, L"O:S-1-5-21-7-7-7-1001" + kWide);
         },
         [&] { log(home / "log3/CATLOG"); },
         {home / "log3/CATLOG"},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        const std::vector<std::string> before = AccessOf(c.paths[0]);
        c.act();
        for (const std::string& path : c.paths) {
            ASSERT_TRUE(fs::exists(path)) << path;
            EXPECT_EQ(AccessOf(path), c.tightened ? Private() : before) << path;
        }
    }
    EXPECT_NE(ReadFile(home / "log2/CATLOG/gate_20240305.LOG").find("[Serial CLOSE]"),
              std::string::npos);
}

TEST_F(PrivateFiles, TraceLineIsWrittenWhileAnotherProgramHoldsTheFile) {
    const std::string folder = home / "CATLOG";
    const std::string file = folder + "/gate_20240305.LOG";
    ConfigureTrafficLog(folder, "gate", clock.AsClock());
    WriteTrafficLog(TrafficKind::Event, "first", 0);
    // A collector that reads the file and may delete it, sharing read and write only.
    HANDLE held =
        CreateFileW(Wide(file).c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    WriteTrafficLog(TrafficKind::Event, "second", 0);
    CloseHandle(held);
    const std::string text = ReadFile(file);
    EXPECT_NE(text.find("[first]\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[second]\r\n"), std::string::npos) << text;
}

}  // namespace
