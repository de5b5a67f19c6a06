// The Windows backend's own facts: texts, paths, the process list, the
// version resource, executables and shortcuts.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <future>

#include "config/paths.h"
#include "platform/desktop.h"
#include "platform/instance_lock.h"
#include "platform/launcher.h"
#include "platform/windows/network_windows.h"
#include "platform/process_list.h"
#include "platform/system.h"
#include "platform/windows/text.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(WindowsText, Utf8AndUtf16RoundTrip) {
    for (const std::string text : {"", "COM3", "설정 폴더", "a\xC3\xA9z"}) {
        EXPECT_EQ(platform::win::Utf8(platform::win::Wide(text)), text);
    }
    EXPECT_EQ(platform::win::Wide("한"), std::wstring(L"\xD55C"));
}

TEST(WindowsPaths, ValuesFromTheExecutableAndHomeDrive) {
    const PathValues p = DerivePathValues("C:\\Apps\\X.exe", "C:", "");
    EXPECT_EQ(p.exeName, "X.exe");
    EXPECT_EQ(p.exeBase, "X");
    EXPECT_EQ(p.iniName, "X.ini");
    EXPECT_EQ(p.iniPath, "C:\\Apps\\X.ini");
    EXPECT_EQ(p.installDir, "C:\\QAVEX");
    EXPECT_EQ(DerivePathValues("C:\\Apps\\Brisken.EXE", "D:", "").exeBase, "Brisken");
    EXPECT_EQ(DerivePathValues("C:\\Apps\\abc", "C:", "").exeBase, "abc");
    EXPECT_EQ(platform::JoinPath("C:\\QAVEX", "x"), "C:\\QAVEX\\x");
    EXPECT_EQ(platform::JoinPath("C:\\QAVEX\\", "x"), "C:\\QAVEX\\x");
}

TEST(WindowsFiles, KoreanNamesAndTheSameFileBySpelling) {
    TempDir dir;
    const std::string folder = dir / "카드 단말기";
    ASSERT_TRUE(platform::MakeDirectory(folder));
    EXPECT_TRUE(platform::IsDirectory(folder));
    const std::string file = folder + "\\로그.txt";
    std::FILE* f = platform::OpenFile(file, "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_TRUE(platform::PathExists(file));
    std::string upper = file;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(platform::SameFile(file, upper)) << "letter case names the same file";
    EXPECT_FALSE(platform::SameFile(file, folder));
}

TEST(WindowsProcesses, CountsCopiesByTheStartOfTheirName) {
    const std::string exe = platform::ExecutablePath();
    const std::string name = exe.substr(exe.find_last_of("\\/") + 1);
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    struct Case {
        std::string name;
        int atLeast;
        int atMost;
    } cases[] = {
        {name, 1, 1},
        {name.substr(0, name.size() - 4), 1, 1000},  // the start of a name counts
        {upper, 0, 0},                               // letter case counts
        {"x" + name, 0, 0},
        {"", 0, 0},
    };
    for (const auto& c : cases) {
        const int n = platform::CountRunningCopies(c.name);
        EXPECT_GE(n, c.atLeast) << c.name;
        EXPECT_LE(n, c.atMost) << c.name;
    }
}

TEST(WindowsInstanceLock, OneHolderOfTheSessionMutexAtATime) {
    using platform::InstanceClaim;
    const std::string name = "talmira-lock-test";
    {
        platform::InstanceLock first;
        ASSERT_EQ(first.TryAcquire(name, ""), InstanceClaim::Held);
        EXPECT_EQ(first.Where(), "Local\\talmira-lock-test");
        platform::InstanceLock second;
        EXPECT_EQ(second.TryAcquire(name, ""), InstanceClaim::HeldElsewhere);
        // Windows names files without regard to case: so does the lock.
        platform::InstanceLock otherCase;
        EXPECT_EQ(otherCase.TryAcquire("Talmira-Lock-TEST", ""), InstanceClaim::HeldElsewhere);
    }
    platform::InstanceLock next;
    EXPECT_EQ(next.TryAcquire(name, ""), InstanceClaim::Held);
}

// A network is an adapter that is up, not loopback, with an address (the
// Linux rule); the system's connection state is asked only when none is, and
// one that never answers counts as no network within its bound.
TEST(WindowsNetwork, AnAdapterUpCountsWhateverTheConnectionStateSays) {
    using platform::AdapterFacts;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    const auto no = [] { return false; };
    const auto yes = [] { return true; };
    const auto hangs = [released] {
        released.wait();
        return true;
    };
    const struct {
        const char* name;
        std::function<bool()> state;
        std::vector<AdapterFacts> adapters;
        bool network;
    } cases[] = {
        {"LAN up, state says none", no, {{true, false, true}}, true},
        {"only loopback", no, {{true, true, true}}, false},
        {"up without an address", no, {{true, false, false}}, false},
        {"down with an address", no, {{false, false, true}}, false},
        {"no adapter, state says connected", yes, {}, true},
        {"no adapter, state never answers", hangs, {}, false},
    };
    for (const auto& c : cases) {
        platform::NetworkProbes probes;
        probes.connectedState = c.state;
        probes.adapters = [&c] { return c.adapters; };
        probes.boundMs = 200;
        EXPECT_EQ(platform::NetworkConnectionBy(probes), c.network) << c.name;
    }
    release.set_value();
}

TEST(WindowsVersion, OwnFileVersionComesFromTheResource) {
    EXPECT_EQ(platform::OwnFileVersion(), "2.0.0.6");
}

TEST(WindowsExecutables, OnlyPeFilesForThisMachinePass) {
    EXPECT_TRUE(platform::IsNativeExecutable(platform::ExecutablePath()));
    TempDir dir;
    WriteFile(dir / "elf", std::string("\x7f"
                                       "ELF\x02\x01\x01",
                                       7) +
                               std::string(300, 'E'));
    WriteFile(dir / "mz", "MZ" + std::string(300, '\0'));
    EXPECT_FALSE(platform::IsNativeExecutable(dir / "elf"));
    EXPECT_FALSE(platform::IsNativeExecutable(dir / "mz"));
    EXPECT_FALSE(platform::IsNativeExecutable(dir / "missing"));
    // The program itself as another machine's: x86 runs everywhere, x64 in
    // a 64-bit program only, ARM64 nowhere here.
    std::ifstream in(platform::ExecutablePath(), std::ios::binary);
    std::string self((std::istreambuf_iterator<char>(in)), {});
    uint32_t pe = 0;
    std::memcpy(&pe, self.data() + 0x3c, sizeof pe);
    const std::pair<int, bool> machines[] = {{0x14c, true}, {0x8664, sizeof(void*) == 8}, {0xaa64, false}};
    for (auto [machine, runs] : machines) {
        self[pe + 4] = static_cast<char>(machine & 0xff);
        self[pe + 5] = static_cast<char>(machine >> 8);
        WriteFile(dir / "other", self);
        EXPECT_EQ(platform::IsNativeExecutable(dir / "other"), runs) << std::hex << machine;
    }
}

TEST(WindowsDesktop, FollowsTheKnownFolderWhenTheDesktopIsRedirected) {
    // A desktop moved into OneDrive: the known folder follows the user's shell
    // folder setting; the old "Shell Folders" value still names the old one.
    const wchar_t* const key =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    wchar_t saved[1024] = {};
    DWORD size = sizeof saved;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, key, L"Desktop", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                           nullptr, saved, &size),
              ERROR_SUCCESS);
    const std::string before = platform::DesktopDir();
    TempDir dir;
    const std::string moved = dir / "OneDrive 바탕 화면";
    ASSERT_TRUE(platform::MakeDirectory(moved));
    const std::wstring value = platform::win::Wide(moved);
    RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Desktop", REG_EXPAND_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    const std::string found = platform::DesktopDir();
    RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Desktop", REG_EXPAND_SZ, saved,
                    static_cast<DWORD>((wcslen(saved) + 1) * sizeof(wchar_t)));
    EXPECT_TRUE(platform::SameFile(found, moved)) << found;
    EXPECT_TRUE(platform::SameFile(platform::DesktopDir(), before));
}

TEST(WindowsShortcut, ShellLinkIsSaved) {
    TempDir dir;
    const std::string link = dir / platform::ShortcutFileName("Brisken");
    EXPECT_EQ(link.substr(link.size() - 4), ".lnk");
    ASSERT_EQ(platform::CreateShortcut("C:\\QAVEX\\Brisken.exe", "C:\\QAVEX", link),
              platform::ShortcutResult::Saved);
    const std::string bytes = ReadFile(link);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x4C\0\0\0", 4)) << "a shell link header";
    EXPECT_EQ(
        platform::CreateShortcut("C:\\QAVEX\\Brisken.exe", "C:\\QAVEX", dir / "no\\such\\x.lnk"),
        platform::ShortcutResult::SaveFailed);
}

}  // namespace
