// Run by release_e2e.sh with the release served: the 2.0.0.6 shop build,
// installed and started as a shop starts it, updates itself to the served
// 2.0.0.7 and the copy that comes back runs as 2.0.0.7.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/network.h"
#include "tests/support/temp_dir.h"
#include "tests/update/process_util.h"
#include "tools/catsim/cat_simulator.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The pid of a process running the file at path; 0 when none.
int RunningCopyOf(const std::string& path) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code linkError;
        if (fs::read_symlink(entry.path() / "exe", linkError) == path &&
            ProcessAlive(std::stoi(name)))
            return std::stoi(name);
    }
    return 0;
}

TEST(Release, ShopBuildUpdatesItselfToTheServedRelease) {
    if (!platform::HasNetworkConnection()) {
        GTEST_SKIP() << "the program ends at once on a machine without a network connection";
    }
    const char* oldExe = std::getenv("RELEASE_OLD_EXE");
    const char* newExe = std::getenv("RELEASE_NEW_EXE");
    ASSERT_TRUE(oldExe != nullptr && newExe != nullptr) << "run by release_e2e.sh";
    const std::string released = ReadFile(newExe);

    // Installed under a name of its own, so that no other copy on this
    // machine counts; connecting by itself to a terminal of the test's.
    TempDir home;
    fs::permissions(home.path(), fs::perms::owner_all);
    auto cat = catsim::CatSimulator::CreatePty();
    ASSERT_TRUE(cat);
    const std::string installDir = home / "QAVEX";
    const std::string exe = installDir + "/brisken-release";
    fs::create_directories(installDir);
    fs::create_directories(home / "cwd");
    fs::copy_file(oldExe, exe);
    WriteFile(installDir + "/brisken-release.ini",
              "[COMPORT]\nport=" + cat->DevicePath() + "\nspeed=9.6K\n[COMMON]\nauto_run=Y\n");
    std::vector<std::string> env = OwnHomeEnvironment(home);
    for (const char* keep : {"PATH", "LANG"})
        if (const char* value = std::getenv(keep)) env.push_back(std::string(keep) + "=" + value);

    const int old = StartProcess(exe, {}, home / "cwd", env);
    ASSERT_GT(old, 0);
    EXPECT_EQ(WaitChild(old, 120s), 0) << "the 2.0.0.6 copy ends by itself once it has the update";
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(exe) == released; }, 60s))
        << "the installed program is the served file";
    int copy = 0;
    ASSERT_TRUE(WaitUntil([&] { return (copy = RunningCopyOf(exe)) != 0; }, 60s))
        << "the update script starts the new program";

    // The copy asks the server again and, being 2.0.0.7 itself, takes no
    // update: it goes on to connect and answers the terminal, with no
    // download in the install folder and no update script waiting for its end.
    bool answered = false;
    for (int i = 0; i < 120 && !answered && ProcessAlive(copy); ++i) {
        ASSERT_TRUE(cat->SendLoneCr());
        answered = cat->ExpectBurst(catsim::kACK, 500);
    }
    EXPECT_TRUE(answered) << "the new copy never answered the terminal";
    EXPECT_TRUE(ProcessAlive(copy));
    EXPECT_FALSE(fs::exists(installDir + "/UpdateFile.sob"));
    EXPECT_FALSE(fs::exists(home / "cwd/update_brisken.sh"));

    EndProcess(copy);
    EXPECT_TRUE(WaitUntil([&] { return !ProcessAlive(copy); }, 10s));
}

}  // namespace
