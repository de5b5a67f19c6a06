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
    static std::wstring KeyOf(HANDLE h) {
        wchar_t buf[1024];
        const DWORD n = GetFinalPathNameByHandleW(h, buf, 1024, 0);
        std::wstring path(buf, n < 1024 ? n : 0);
        if (path.rfind(L"\\\\?\\", 0) == 0) path = path.substr(4);
        return Key(path.c_str());
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
    static DWORD WINAPI Get(HANDLE h, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner,
                            PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* sd) {
        const auto found = Sddl().find(KeyOf(h));
        if (found == Sddl().end())
            return GetSecurityInfo(h, type, what, owner, group, dacl, sacl, sd);
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
    static DWORD WINAPI Set(HANDLE h, SE_OBJECT_TYPE, SECURITY_INFORMATION what, PSID, PSID,
                            PACL dacl, PACL) {
        SECURITY_DESCRIPTOR sd;
        InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&sd, TRUE, dacl, FALSE);
        if (what & PROTECTED_DACL_SECURITY_INFORMATION)
            SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        std::wstring& text = Sddl()[KeyOf(h)];
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
    HANDLE h = platform::win::OpenForSecurity(Wide(path), fs::is_directory(path));
    const DWORD got = platform::win::Calls().getSecurity(
        h, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd);
    CloseHandle(h);
    if (got != ERROR_SUCCESS) return {"unreadable"};
    std::vector<std::string> who;
    const auto readsOnly = [](void* ace) {
        return (static_cast<ACCESS_ALLOWED_ACE*>(ace)->Mask & FILE_WRITE_DATA) == 0;
    };
    if (dacl == nullptr) who.push_back("S-1-1-0");
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        GetAce(dacl, i, &ace);
        if (static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE)
            who.push_back(SidText(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart) +
                          (readsOnly(ace) ? ":RX" : ""));
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
            calls.getSecurity = &DaclStore::Get;
            calls.setSecurity = &DaclStore::Set;
        }
    }
    void TearDown() override {
        platform::win::Calls() = {};
        DaclStore::Sddl().clear();
        ConfigureTrafficLog("", "", {});
        InstallFixture::TearDown();
    }
    static std::vector<std::string> Private(bool program = false) {
        std::vector<std::string> who = {MySid(), "S-1-5-18", "S-1-5-32-544"};
        if (program) who.push_back("S-1-5-32-545:RX");
        std::sort(who.begin(), who.end());
        who.insert(who.begin(), "protected");
        return who;
    }
    ManualClock clock{platform::LocalTime{2024, 3, 5, 9, 5, 3, 120}};
};

TEST_F(PrivateFiles, TraceAndDownloadArePrivateTheProgramIsShared) {
    const auto log = [&](const std::string& folder) {
        ConfigureTrafficLog(folder, "gate", clock.AsClock());
        WriteTrafficLog(TrafficKind::Event, "Serial CLOSE", 0);
    };
    const std::wstring other = L"O:S-1-5-21-7-7-7-1001";
    // Another account's install: it and the system change it, users run it.
    const std::wstring othersProgram =
        other + L"D:P(A;OICI;FA;;;S-1-5-21-7-7-7-1001)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
    const auto fresh = [&] {
        fs::remove_all(home / "QAVEX");
        ResetUpdateState();
    };
    enum Want { Private_, Program, AsBefore };
    struct Case {
        const char* name;
        std::function<void()> before;
        std::function<void()> act;
        std::vector<std::string> paths;
        Want want;
        std::string used;  // a file that shows it was used ("!" first: that it was not)
    } cases[] = {
        {"a fresh trace folder and its file",
         [&] { fs::create_directories(home / "log1"); },
         [&] { log(home / "log1/CATLOG"); },
         {home / "log1/CATLOG", home / "log1/CATLOG/gate_20240305.LOG"},
         Private_, ""},
        {"a trace folder and file made before with wide access",
         [&] {
             fs::create_directories(home / "log2");
             MakeWith(home / "log2/CATLOG", true, kWide);
             MakeWith(home / "log2/CATLOG/gate_20240305.LOG", false, kWide);
         },
         [&] { log(home / "log2/CATLOG"); },
         {home / "log2/CATLOG", home / "log2/CATLOG/gate_20240305.LOG"},
         Private_, ""},
        {"a fresh install folder and program", [] {}, [&] { Install(); },
         {home / "QAVEX", home / "QAVEX/brisken"}, Program, ""},
        {"an install folder of ours made before with wide access",
         [&] { fresh(); MakeWith(home / "QAVEX", true, kWide); },
         [&] { Install(); },
         {home / "QAVEX", home / "QAVEX/brisken"},
         Program, ""},
        {"a download over a wide file left behind",
         [&] { MakeWith(home / "UpdateFile.sob", false, kWide); },
         [&] { std::fclose(platform::CreatePrivateFile(home / "UpdateFile.sob")); },
         {home / "UpdateFile.sob"},
         Private_, ""},
        {"a self-management script in the install folder",
         [] {},
         [&] { UninstallSelf(options); },
         {home / "QAVEX/killfileall.bat"},
         Private_, ""},
        {"another account's trace folder that others may write",
         [&] {
             fs::create_directories(home / "log3");
             MakeWith(home / "log3/CATLOG", true, other + kWide);
         },
         [&] { log(home / "log3/CATLOG"); },
         {home / "log3/CATLOG"},
         AsBefore,
         "!" + (home / "log3/CATLOG/gate_20240305.LOG")},
        {"another account's day file in our trace folder, readable by others",
         [&] { MakeWith(home / "log1/CATLOG/gate_20240306.LOG", false, other + kWide); },
         [&] {
             clock.Set(platform::LocalTime{2024, 3, 6, 9, 0, 0, 0});
             log(home / "log1/CATLOG");
         },
         {home / "log1/CATLOG/gate_20240306.LOG"},
         AsBefore,
         "!" + (home / "log1/CATLOG/gate_20240306.LOG") + "|Serial CLOSE"},
        {"another account's install folder that others may write",
         [&] { fresh(); MakeWith(home / "QAVEX", true, other + kWide); },
         [&] { Install(); },
         {home / "QAVEX"},
         AsBefore,
         "!" + (home / "QAVEX/brisken")},
        {"another account's install that only it and the system change",
         [&] {
             fresh();
             MakeWith(home / "QAVEX", true, othersProgram);
             MakeWith(home / "QAVEX/brisken", false, othersProgram);
             fs::remove(Shortcut());
             UseExecutable(home / "QAVEX/brisken");
         },
         [&] { Install(); },
         {home / "QAVEX", home / "QAVEX/brisken"},
         AsBefore,
         Shortcut()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        std::vector<std::vector<std::string>> before;
        for (const std::string& path : c.paths) before.push_back(AccessOf(path));
        c.act();
        for (size_t i = 0; i < c.paths.size(); ++i) {
            ASSERT_TRUE(fs::exists(c.paths[i])) << c.paths[i];
            EXPECT_EQ(AccessOf(c.paths[i]),
                      c.want == AsBefore ? before[i] : Private(c.want == Program))
                << c.paths[i];
        }
        if (c.used.empty()) continue;
        const bool not_ = c.used[0] == '!';
        const std::string used = c.used.substr(not_ ? 1 : 0);
        const size_t bar = used.find('|');
        const std::string file = used.substr(0, bar);
        const bool there = bar == std::string::npos
                               ? fs::exists(file)
                               : ReadFile(file).find(used.substr(bar + 1)) != std::string::npos;
        EXPECT_EQ(there, !not_) << used;
    }
    EXPECT_NE(ReadFile(home / "log2/CATLOG/gate_20240305.LOG").find("[Serial CLOSE]"),
              std::string::npos);
    // An update is downloaded only into a folder of the user's own.
    EXPECT_FALSE(platform::IsOwnWritableDirectory(home / "QAVEX"));
    EXPECT_TRUE(platform::IsOwnWritableDirectory(home / "log1"));
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
