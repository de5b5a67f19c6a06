// Run under Wine by release_e2e.sh with the release served: the signed
// 2.0.0.6 shop build, installed and started as a shop starts it, updates
// itself to the served 2.0.0.7, whose version resource says 2.0.0.7, and the
// copy that comes back shows 2.0.0.7 in its settings dialog.
#include <gtest/gtest.h>

// windows.h first, the headers that build on it after it.
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/desktop.h"
#include "platform/windows/text.h"
#include "tests/support/temp_dir.h"
#include "tests/update/process_util.h"
#include "tests/update/process_util_windows.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using platform::win::Utf8;
using platform::win::Wide;

// A visible top-level window of a brisken.exe copy with this caption.
HWND WindowOfACopy(const wchar_t* caption) {
    for (DWORD pid : Copies()) {
        for (HWND w = FindWindowW(nullptr, caption); w != nullptr;
             w = FindWindowExW(nullptr, w, nullptr, caption)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == pid && IsWindowVisible(w)) return w;
        }
    }
    return nullptr;
}

// A string of the file's version resource, Korean block.
std::string VersionString(const std::string& file, const wchar_t* name) {
    const std::wstring path = Wide(file);
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    std::vector<char> block(size);
    wchar_t* text = nullptr;
    UINT chars = 0;
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data()) ||
        !VerQueryValueW(block.data(),
                        (L"\\StringFileInfo\\041204b0\\" + std::wstring(name)).c_str(),
                        reinterpret_cast<void**>(&text), &chars) ||
        text == nullptr)
        return {};
    return Utf8(std::wstring(text));
}

void Clean() {
    for (DWORD pid : Copies()) EndProcess(static_cast<int>(pid));
    std::error_code ec;
    fs::remove_all(InstallDir(), ec);
    fs::remove(platform::DesktopDir() + "\\brisken.lnk", ec);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                       L"brisken");
}

TEST(Release, SignedShopBuildUpdatesItselfToTheServedRelease) {
    const char* oldExe = std::getenv("RELEASE_OLD_EXE");
    const char* newExe = std::getenv("RELEASE_NEW_EXE");
    ASSERT_TRUE(oldExe != nullptr && newExe != nullptr) << "run by release_e2e.sh";
    EXPECT_EQ(VersionString(newExe, L"FileVersion"), "2.0.0.7");
    EXPECT_EQ(VersionString(newExe, L"ProductVersion"), "2.0.0.7");
    EXPECT_EQ(VersionString(oldExe, L"FileVersion"), "2.0.0.6");
    const std::string released = ReadFile(newExe);

    Clean();
    TempDir tmp;
    const std::string cwd = tmp.path() + "\\cwd";
    fs::create_directories(cwd);
    fs::create_directories(InstallDir());
    const std::string exe = InstallDir() + "\\brisken.exe";
    fs::copy_file(oldExe, exe);
    WriteFile(InstallDir() + "\\brisken.ini", "[COMMON]\r\nauto_run=N\r\n");

    const int old = StartProcess(exe, {}, cwd, {});
    ASSERT_GT(old, 0);
    EXPECT_EQ(WaitChild(old, 120s), 0) << "the 2.0.0.6 copy ends by itself once it has the update";
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(exe) == released; }, 90s))
        << "the installed program is the served file";

    // The copy the script starts asks again, takes no update, and says which
    // version it is where a shop looks: in its settings dialog.
    HWND main = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (main = WindowOfACopy(L"Talmira")) != nullptr; }, 120s));
    if (main != nullptr) {
        PostMessageW(GetDlgItem(main, 1004), BM_CLICK, 0, 0);
        HWND settings = nullptr;
        EXPECT_TRUE(WaitUntil(
            [&] { return (settings = WindowOfACopy(L"Talmira SETUP")) != nullptr; }, 20s));
        wchar_t shown[32] = {};
        if (settings != nullptr) GetDlgItemTextW(settings, 1024, shown, 32);
        EXPECT_EQ(Utf8(shown, wcslen(shown)), "2.0.0.7");
    }
    // The script removes the download once the new program has confirmed its start.
    EXPECT_TRUE(WaitUntil([&] { return !fs::exists(InstallDir() + "\\UpdateFile.sob"); }, 30s));
    Clean();
}

}  // namespace
