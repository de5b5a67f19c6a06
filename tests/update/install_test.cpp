#include <gtest/gtest.h>

#include <algorithm>

#include "platform/launcher.h"
#include "tests/update/install_fixture.h"
#include "tests/update/process_util.h"

namespace {

namespace fs = std::filesystem;

// ---- The install step's decisions, with launches recorded instead of run.
using InstallSelfTest = InstallFixture;

TEST_F(InstallSelfTest, InstalledWithLauncherDoesNothing) {
    fs::create_directory(home / "QAVEX");
    fs::copy_file(home / "start/brisken", home / "QAVEX/brisken");
    WriteFile(Shortcut(), "mine");
    UseExecutable(home / "QAVEX/brisken");
    Install();
    EXPECT_EQ(ReadFile(Shortcut()), "mine");
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(launched.empty());
    EXPECT_TRUE(fs::is_empty(home / "cwd"));
}

TEST_F(InstallSelfTest, InstalledWithoutLauncherCreatesItOnly) {
    fs::create_directory(home / "QAVEX");
    fs::copy_file(home / "start/brisken", home / "QAVEX/brisken");
    UseExecutable(home / "QAVEX/brisken");
    Install();
    EXPECT_TRUE(fs::is_regular_file(Shortcut()));
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(launched.empty());
}

TEST_F(InstallSelfTest, NoDesktopFolderOnlyCreatesTheInstallFolder) {
    desktop = "";
    Install();
    EXPECT_TRUE(fs::is_directory(home / "QAVEX"));
    EXPECT_FALSE(fs::exists(home / "QAVEX/brisken"));
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(launched.empty());
}

TEST_F(InstallSelfTest, InstallFolderThatCannotBeMadeStopsEverything) {
    options.paths.installDir = home / "missing/QAVEX";
    Install();
    EXPECT_FALSE(fs::exists(home / "missing"));
    EXPECT_FALSE(fs::exists(Shortcut()));
    EXPECT_TRUE(events.empty());
}

TEST_F(InstallSelfTest, ElsewhereRelocatesWithSettingsAndQuits) {
    Install();
    EXPECT_EQ(ReadFile(home / "QAVEX/brisken"), FakeExecutable());
    EXPECT_TRUE(IsRunnableFile(home / "QAVEX/brisken"));
    EXPECT_EQ(ReadFile(home / "QAVEX/brisken.ini"), "[COMPORT]\nport=3\n");
    EXPECT_FALSE(fs::exists(Shortcut()));  // the installed copy makes it anew
    const std::vector<std::string> expectedLaunches = {Script("runextern") + "|" + (home / "cwd"),
                                                       Script("killfile") + "|" + (home / "cwd")};
    EXPECT_EQ(launched, expectedLaunches);
    const std::vector<std::string> expectedEvents = {"autorun", "clear", "quit"};
    EXPECT_EQ(events, expectedEvents);
    // The old copy's own log folder, named in full (compared with '/' for
    // every separator: batch files write backslashes).
    const auto slashes = [](std::string text) {
        std::replace(text.begin(), text.end(), '\\', '/');
        return text;
    };
    const std::string killfile = slashes(ReadFile(home / ("cwd/" + Script("killfile"))));
    EXPECT_NE(killfile.find(slashes(home / "start/CATLOG")), std::string::npos);
    EXPECT_TRUE(fs::exists(home / "start/brisken"));  // the scripts remove it once we have ended
}

// Scripts go to the first folder that takes them; a relocation whose scripts
// cannot all be written and launched goes on from where it is, its autostart
// entry and launcher kept.
TEST_F(InstallSelfTest, RelocationScriptsFindAFolderOrTheProgramGoesOn) {
    const struct Case {
        const char* name;
        std::vector<std::string> refusedFolders;
        std::string refusedLaunch;
        std::string scriptFolder;  // "" = no relocation
    } cases[] = {
        {"current directory takes them", {}, "", "cwd"},
        {"current directory refuses", {"cwd"}, "", "QAVEX"},
        {"install folder refuses too", {"cwd", "QAVEX"}, "", "tmp"},
        {"no folder takes them", {"cwd", "QAVEX", "tmp"}, "", ""},
        {"restart cannot be launched", {}, Script("runextern"), ""},
        {"clean-up cannot be launched", {}, Script("killfile"), ""},
    };
    for (const auto& c : cases) {
        SetUp();
        WriteFile(Shortcut(), "mine");
        options.folderWritable = [&](const std::string& dir) {
            for (const auto& f : c.refusedFolders)
                if (fs::equivalent(dir, home / f)) return false;
            return true;
        };
        refuseLaunchOf = c.refusedLaunch;
        Install();
        if (c.scriptFolder.empty()) {
            EXPECT_EQ(events, std::vector<std::string>{}) << c.name << ": no quit, autostart kept";
            EXPECT_TRUE(fs::exists(Shortcut())) << c.name;
            for (const char* dir : {"cwd", "QAVEX", "tmp"})
                for (const char* base : {"killfile", c.refusedLaunch.empty() ? "runextern" : ""})
                    EXPECT_FALSE(fs::exists(home / (std::string(dir) + "/" + Script(base))))
                        << c.name << ": no script left behind in " << dir;
        } else {
            const std::string dir =
                c.scriptFolder == "QAVEX" ? options.paths.installDir : home / c.scriptFolder;
            EXPECT_EQ(launched, (std::vector<std::string>{Script("runextern") + "|" + dir,
                                                          Script("killfile") + "|" + dir}))
                << c.name;
            EXPECT_EQ(events.back(), "quit") << c.name;
            // The restarted copy still runs in the folder this one was started in.
            const auto slashes = [](std::string text) {
                std::replace(text.begin(), text.end(), '\\', '/');
                return text;
            };
            const std::string runextern = slashes(ReadFile(JoinPath(dir, Script("runextern"))));
            EXPECT_NE(runextern.find(slashes(platform::ScriptPathText(home / "cwd"))),
                      std::string::npos)
                << c.name;
        }
        launched.clear();
        events.clear();
        host.events.clear();
        fs::remove_all(home / "QAVEX");
        for (const char* dir : {"cwd", "tmp"}) {
            fs::remove_all(home / dir);
            fs::create_directories(home / dir);
        }
    }
}

TEST_F(InstallSelfTest, RelocationKeepsSettingsAlreadyInstalled) {
    fs::create_directory(home / "QAVEX");
    WriteFile(home / "QAVEX/brisken.ini", "[COMMON]\nlog=1\n");
    Install();
    EXPECT_EQ(ReadFile(home / "QAVEX/brisken.ini"), "[COMMON]\nlog=1\n");
    EXPECT_EQ(events.back(), "quit");
}

TEST_F(InstallSelfTest, CopyThatFailsKeepsTheOldCopyRunning) {
    UseExecutable(home / "start/vanished");
    Install();
    EXPECT_TRUE(launched.empty());
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(fs::exists(home / ("cwd/" + Script("killfile"))));
}

TEST_F(InstallSelfTest, LauncherThatCannotBeWrittenIsReported) {
    std::vector<std::string> messages;
    EXPECT_EQ(CreateDesktopShortcut(home / "QAVEX/brisken", home / "no such folder",
                                    platform::ShortcutFileName("brisken"),
                                    [&](const std::string& text) { messages.push_back(text); }),
              1);
    EXPECT_EQ(messages, std::vector<std::string>{"바로가기 생성 오류가 발생하였습니다."});
}

TEST_F(InstallSelfTest, UninstallWritesScriptAndRemovesLauncher) {
    WriteFile(Shortcut(), "x");
    UninstallSelf(options);
    EXPECT_FALSE(fs::exists(Shortcut()));
    EXPECT_EQ(launched, std::vector<std::string>{Script("killfileall") + "|" + (home / "cwd")});

    launched.clear();
    WriteFile(Shortcut(), "x");
    options.folderWritable = [](const std::string&) { return false; };
    UninstallSelf(options);  // no script: nothing at all
    EXPECT_TRUE(fs::exists(Shortcut()));
    EXPECT_TRUE(launched.empty());
}

}  // namespace
