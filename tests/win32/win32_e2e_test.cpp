// The real brisken.exe under Wine: it installs itself into %HOMEDRIVE%\QAVEX
// with <Desktop>\brisken.lnk, moves there from another folder, updates itself
// from a loopback server through its .bat script (once per version, and from
// a start folder it cannot write), uninstalls itself from the
// settings dialog, leaves as a second copy, and honours /uninstall. Every copy
// a test sees is ended by its pid.
#include <gtest/gtest.h>

// windows.h first, the headers that build on it after it.
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/desktop.h"
#include "platform/windows/text.h"
#include "tests/support/http_server.h"
#include "tests/support/temp_dir.h"
#include "tests/update/process_util.h"
#include "tests/update/process_util_windows.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using platform::win::Utf8;
using platform::win::Wide;

const wchar_t* const kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

struct WindowSearch {
    DWORD pid;
    const wchar_t* caption;
    HWND except;
    HWND found;
    bool hidden;
};

// WINAPI, as EnumWindows calls it (a lambda's pointer is not, on 32-bit Windows).
BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    wchar_t text[64] = {};
    GetWindowTextW(hwnd, text, 64);
    if (owner == s->pid && hwnd != s->except && (s->hidden || IsWindowVisible(hwnd)) &&
        lstrcmpW(text, s->caption) == 0) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// A top-level window of process pid with this caption; null when none.
HWND WindowOf(DWORD pid, const wchar_t* caption, HWND except = nullptr, bool hidden = false) {
    WindowSearch search{pid, caption, except, nullptr, hidden};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool RunValueThere() {
    return RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"brisken", RRF_RT_REG_SZ, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

class WindowsProgram : public ::testing::Test {
protected:
    void SetUp() override {
        Clean();
        shortcut = platform::DesktopDir() + "\\brisken.lnk";
        ASSERT_FALSE(platform::DesktopDir().empty());
        program = ReadBytes(BRISKEN_EXE);
        ASSERT_FALSE(program.empty());
        fs::create_directories(cwd);
    }
    void TearDown() override { Clean(); }
    void Clean() {
        for (DWORD pid : Copies()) EndProcess(static_cast<int>(pid));
        std::error_code ec;
        fs::remove_all(InstallDir(), ec);
        fs::remove(platform::DesktopDir() + "\\brisken.lnk", ec);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"brisken");
    }
    // The program as installed, with its shortcut and settings.
    std::string Installed(const std::string& ini = "[COMMON]\r\nauto_run=N\r\n") {
        fs::create_directories(InstallDir());
        const std::string exe = InstallDir() + "\\brisken.exe";
        WriteBytes(exe, program);
        WriteBytes(InstallDir() + "\\brisken.ini", ini);
        WriteBytes(shortcut, "link");
        return exe;
    }
    int Start(const std::string& exe, std::vector<std::string> args = {}) {
        const int pid = StartProcess(exe, args, cwd, {});
        EXPECT_GT(pid, 0);
        return pid;
    }
    // The main window of a copy that has started for good (bounded).
    HWND MainWindow(int pid) {
        HWND found = nullptr;
        WaitUntil(
            [&] { return (found = WindowOf(static_cast<DWORD>(pid), L"Talmira")) != nullptr; },
            90s);
        return found;
    }

    TempDir tmp;
    std::string cwd = tmp.path() + "\\cwd";
    std::string shortcut;
    std::string program;
};

TEST_F(WindowsProgram, StartedElsewhereItMovesIntoTheInstallFolderWithItsShortcut) {
    const std::string oldDir = tmp.path() + "\\old place";
    fs::create_directories(oldDir + "/CATLOG");
    WriteBytes(oldDir + "/brisken.exe", program);
    WriteBytes(oldDir + "/brisken.ini", "[COMPORT]\r\nport=7\r\n");
    WriteBytes(oldDir + "/notes.txt", "keep");

    const int pid = Start(oldDir + "\\brisken.exe");
    EXPECT_EQ(WaitChild(pid, 90s), 0) << "the relocating copy ends by itself";
    EXPECT_TRUE(ReadBytes(InstallDir() + "\\brisken.exe") == program);
    EXPECT_NE(ReadBytes(InstallDir() + "\\brisken.ini").find("port=7"), std::string::npos);
    // The relocation drops the old shortcut; the installed copy makes it anew.
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(shortcut); }, 60s));
    // The scripts remove the old copy, its settings and its log folder, and themselves.
    EXPECT_TRUE(WaitUntil(
        [&] {
            return !fs::exists(oldDir + "/brisken.exe") && !fs::exists(cwd + "/killfile.bat") &&
                   !fs::exists(cwd + "/runextern.bat");
        },
        60s));
    EXPECT_FALSE(fs::exists(oldDir + "/brisken.ini"));
    EXPECT_FALSE(fs::exists(oldDir + "/CATLOG"));
    EXPECT_EQ(ReadBytes(oldDir + "/notes.txt"), "keep");
}

// The restarted program is the same version the server still names (a
// release whose version resource was not raised): it installs it once and
// then runs on, never downloading and ending again at every start.
TEST_F(WindowsProgram, UpdateScriptReplacesTheProgramAndStartsItOnce) {
    const std::string exe = Installed();
    const std::string newBuild = program + "NEW BUILD 9.0.0.0";
    // The compiled-in update server of a developer build.
    TestHttpServer server(TestHttpServer::Tls{}, 18080);
    server.Set("/brisken/brisken_ver.php?app_name=Brisken",
               TestHttpServer::Ok(R"({"status":"ok","version":"9.0.0.0","url":")" +
                                  server.Url("/brisken/brisken.exe") + "\"}\r\n"));
    server.Set("/brisken/brisken.exe", TestHttpServer::Ok(newBuild));

    const int pid = Start(exe);
    EXPECT_EQ(WaitChild(pid, 90s), 0) << "the updating copy ends by itself";
    EXPECT_TRUE(WaitUntil([&] { return ReadBytes(exe) == newBuild; }, 60s));
    EXPECT_TRUE(WaitUntil([&] { return !Copies().empty(); }, 60s)) << "the script restarts it";
    const DWORD restarted = Copies().empty() ? 0 : Copies().front();
    ASSERT_NE(MainWindow(static_cast<int>(restarted)), nullptr) << "it asked, and stays";
    EXPECT_TRUE(ProcessAlive(static_cast<int>(restarted)));
    int downloads = 0;
    for (const auto& request : server.Requests())
        if (request.rfind("GET /brisken/brisken.exe ", 0) == 0) ++downloads;
    EXPECT_EQ(downloads, 1);
    EXPECT_TRUE(WaitUntil(
        [&] {
            return !fs::exists(InstallDir() + "\\UpdateFile.sob") &&
                   !fs::exists(cwd + "/update_brisken.bat");
        },
        60s));
}

// A folder that refuses every write, as the system folder does to a user the
// session's autostart starts the program in. Root writes through file modes
// under Wine too, so it is a read-only bind mount on the Linux side, made by
// the Linux mount tool (Wine starts Linux programs like its own). The folder
// is one of the test's own, not the prefix's system folder: the prefix is
// shared by the tests running beside this one.
class ReadOnlyFolder {
public:
    ReadOnlyFolder() {
        unixPath = "/tmp/talmira-ro-" + std::to_string(GetCurrentProcessId()) + "-" +
                   std::to_string(GetTickCount64());
        path = "Z:" + unixPath;
        std::replace(path.begin(), path.end(), '/', '\\');
        // Wine does not follow a Linux program to its end: the test waits
        // for what the commands do instead.
        Unix("mkdir -p " + unixPath + " && mount --bind " + unixPath + " " + unixPath +
             " && mount -o remount,bind,ro " + unixPath);
        refuses = WaitUntil([&] { return fs::is_directory(path) && !Writable(); }, 20s);
    }
    ~ReadOnlyFolder() {
        // A copy still running in it keeps it busy: then it goes once free.
        Unix("umount " + unixPath + " || umount -l " + unixPath + "; rmdir " + unixPath);
        WaitUntil([&] { return !fs::exists(path); }, 20s);
    }
    std::string unixPath;
    std::string path;
    bool refuses = false;

private:
    bool Writable() const {
        const std::string probe = path + "\\probe";
        const bool made = static_cast<bool>(std::ofstream(probe));
        std::error_code ec;
        fs::remove(probe, ec);
        return made;
    }
    static void Unix(const std::string& command) {
        std::wstring line = L"Z:\\bin\\sh -c \"" + Wide(command) + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi))
            return;
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
};

TEST_F(WindowsProgram, StartFolderThatCannotBeWrittenStillRelocatesAndUpdates) {
    ReadOnlyFolder system;
    ASSERT_TRUE(system.refuses);
    const std::string oldDir = tmp.path() + "\\old place";
    fs::create_directories(oldDir);
    WriteBytes(oldDir + "/brisken.exe", program);
    WriteBytes(oldDir + "/brisken.ini", "[COMMON]\r\nauto_run=N\r\n");

    const int pid = StartProcess(oldDir + "\\brisken.exe", {}, system.path, {});
    EXPECT_EQ(WaitChild(pid, 90s), 0) << "the relocating copy ends by itself";
    EXPECT_TRUE(WaitUntil([&] { return !fs::exists(oldDir + "/brisken.exe"); }, 60s));
    EXPECT_TRUE(WaitUntil([&] { return !Copies().empty(); }, 60s)) << "the installed copy runs";
    EXPECT_TRUE(WaitUntil(
        [&] {
            return !fs::exists(InstallDir() + "\\killfile.bat") &&
                   !fs::exists(InstallDir() + "\\runextern.bat");
        },
        60s));
    for (DWORD copy : Copies()) EndProcess(static_cast<int>(copy));

    const std::string newBuild = program + "NEW BUILD 9.0.0.0";
    TestHttpServer server(TestHttpServer::Tls{}, 18080);
    server.Set("/brisken/brisken_ver.php?app_name=Brisken",
               TestHttpServer::Ok(R"({"status":"ok","version":"9.0.0.0","url":")" +
                                  server.Url("/brisken/brisken.exe") + "\"}\r\n"));
    server.Set("/brisken/brisken.exe", TestHttpServer::Ok(newBuild));
    const std::string exe = InstallDir() + "\\brisken.exe";
    const int updating = StartProcess(exe, {}, system.path, {});
    EXPECT_EQ(WaitChild(updating, 90s), 0) << "the updating copy ends by itself";
    EXPECT_TRUE(WaitUntil([&] { return ReadBytes(exe) == newBuild; }, 60s));
    EXPECT_TRUE(WaitUntil([&] { return !Copies().empty(); }, 60s)) << "the script restarts it";
    EXPECT_TRUE(WaitUntil([&] { return !fs::exists(InstallDir() + "\\update_brisken.bat"); }, 60s));
    for (DWORD copy : Copies()) EndProcess(static_cast<int>(copy));
}

TEST_F(WindowsProgram, UninstallFromTheSettingsDialogRemovesItsFilesOnly) {
    const std::string exe = Installed();
    fs::create_directories(InstallDir() + "\\CATLOG");
    WriteBytes(InstallDir() + "\\receipts.txt", "keep");
    const int pid = Start(exe);
    HWND main = MainWindow(pid);
    ASSERT_NE(main, nullptr);

    PostMessageW(GetDlgItem(main, 1004), BM_CLICK, 0, 0);
    HWND settings = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return (settings = WindowOf(pid, L"Talmira SETUP")) != nullptr; }, 10s));
    PostMessageW(GetDlgItem(settings, 1023), BM_CLICK, 0, 0);
    // "정말로 삭제하시겠습니까?" in a box of the program's own, answered Yes.
    HWND question = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return (question = WindowOf(pid, L"Talmira", main)) != nullptr; }, 10s));
    PostMessageW(question, WM_COMMAND, IDYES, 0);

    EXPECT_EQ(WaitChild(pid, 60s), 0);
    EXPECT_FALSE(fs::exists(shortcut));
    EXPECT_TRUE(WaitUntil(
        [&] { return !fs::exists(exe) && !fs::exists(InstallDir() + "\\killfileall.bat"); }, 60s));
    EXPECT_FALSE(fs::exists(InstallDir() + "\\brisken.ini"));
    EXPECT_FALSE(fs::exists(InstallDir() + "\\CATLOG"));
    EXPECT_EQ(ReadBytes(InstallDir() + "\\receipts.txt"), "keep");
}

// Resume and a port that came: the running line on COM11 (the socat pair) is
// closed and opened again, and the port list is filled again.
TEST_F(WindowsProgram, ResumeAndANewPortOpenTheLineAgain) {
    const std::string exe = Installed(
        "[COMPORT]\r\nport=11\r\nspeed=115.2K\r\n[COMMON]\r\nauto_run=Y\r\nlog=Y\r\n");
    const int pid = Start(exe);
    const auto opens = [] {
        std::string log;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(InstallDir() + "\\CATLOG", ec))
            log += ReadBytes(e.path().string());
        size_t n = 0;
        for (size_t at = log.find("Serial Open OK"); at != std::string::npos;
             at = log.find("Serial Open OK", at + 1))
            ++n;
        return n;
    };
    ASSERT_TRUE(WaitUntil([&] { return opens() == 1; }, 90s));
    // Connected, the main window is hidden.
    HWND main = WindowOf(static_cast<DWORD>(pid), L"Talmira", nullptr, true);
    ASSERT_NE(main, nullptr);
    HWND ports = GetDlgItem(main, 1000);
    SendMessageW(main, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    EXPECT_TRUE(WaitUntil([&] { return opens() == 2; }, 10s)) << "opened again after the resume";

    const wchar_t* const map = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, map, L"TalmiraTest", REG_SZ, L"COM19", 12),
              ERROR_SUCCESS);
    SendMessageW(main, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0);
    EXPECT_NE(SendMessageW(ports, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                           reinterpret_cast<LPARAM>(L"COM19")),
              CB_ERR);
    EXPECT_TRUE(WaitUntil([&] { return opens() == 3; }, 10s)) << "opened again after the change";
    wchar_t selected[32] = {};
    const LRESULT index = SendMessageW(ports, CB_GETCURSEL, 0, 0);
    ASSERT_GE(index, 1);
    SendMessageW(ports, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(selected));
    EXPECT_STREQ(selected, L"COM11") << "the selection kept";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, map, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"TalmiraTest");
        RegCloseKey(key);
    }
}

TEST_F(WindowsProgram, SecondCopyLeavesAndTheFirstRunsOn) {
    const std::string exe = Installed();
    const int first = Start(exe);
    ASSERT_NE(MainWindow(first), nullptr);
    const int second = Start(exe);
    EXPECT_EQ(WaitChild(second, 60s), 0);
    EXPECT_TRUE(ProcessAlive(first));
}

TEST_F(WindowsProgram, UninstallSwitchRemovesTheAutostartEntryAndEnds) {
    const std::string exe = Installed();
    RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, L"brisken", REG_SZ, L"x", 4);
    ASSERT_TRUE(RunValueThere());
    // The switch as a shortcut or the Run dialog gives it: unquoted.
    std::wstring line = L"\"" + Wide(exe) + L"\" /UNINSTALL";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               Wide(cwd).c_str(), &si, &pi));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    const int pid = static_cast<int>(pi.dwProcessId);
    EXPECT_EQ(WaitChild(pid, 60s), 0);
    EXPECT_FALSE(RunValueThere());
    EXPECT_TRUE(fs::exists(exe)) << "the switch removes the entry only";
}

// A version.dll (and the other system DLLs the program uses that are not
// KnownDLLs) beside the program (a browser's Downloads, where a relocation
// begins, or the install folder) is never loaded, and the program starts all
// the same. Wine prefers its own DLLs to those beside a program whatever the
// program does (and, told to prefer them, loads them for its own system DLLs
// before the program runs), so here the mark shows only that the program
// starts beside them; what decides it on Windows, the import table and the
// load configuration, tools/check-dll-search.sh checks.
TEST_F(WindowsProgram, PlantedDllBesideTheProgramIsNeverLoaded) {
    const std::string exe = Installed();
    for (const char* name : {"version", "iphlpapi", "wininet", "bcrypt", "crypt32"})
        WriteBytes(InstallDir() + "\\" + name + ".dll", ReadBytes(PLANTED_DLL));
    const int pid = Start(exe);
    EXPECT_NE(MainWindow(pid), nullptr);
    EXPECT_FALSE(fs::exists(InstallDir() + "\\planted.mark"));
}

}  // namespace
