#include <gtest/gtest.h>

#include <algorithm>

#ifdef _WIN32
#include "platform/windows/registry.h"
#endif
#include "platform/autostart.h"
#include "platform/launcher.h"
#include "platform/system.h"
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
    const std::string installDir = options.paths.installDir;
    const std::vector<std::string> expectedLaunches = {Script("runextern") + "|" + installDir,
                                                       Script("killfile") + "|" + installDir};
    EXPECT_EQ(launched, expectedLaunches);
    const std::vector<std::string> expectedEvents = {
        "autorun:" + JoinPath(installDir, options.paths.exeName), "clear", "quit"};
    EXPECT_EQ(events, expectedEvents);
    // The old copy's own log folder, named in full (compared with '/' for
    // every separator: batch files write backslashes).
    const auto slashes = [](std::string text) {
        std::replace(text.begin(), text.end(), '\\', '/');
        return text;
    };
    const std::string killfile = slashes(ReadFile(JoinPath(installDir, Script("killfile"))));
    EXPECT_NE(killfile.find(slashes(home / "start/CATLOG")), std::string::npos);
    EXPECT_TRUE(fs::exists(home / "start/brisken"));  // the scripts remove it once we have ended
}

// Scripts go to the install folder, else the temporary folder, never the
// current directory, whether it takes them or not; a relocation whose scripts
// cannot all be written, launched and seen to begin goes on from where it is,
// its autostart entry and launcher kept.
TEST_F(InstallSelfTest, RelocationScriptsFindAFolderOrTheProgramGoesOn) {
    const struct Case {
        const char* name;
        std::vector<std::string> refusedFolders;
        std::string refusedLaunch;
        std::string scriptFolder;  // "" = no relocation
        std::string silent = "";   // starts but never begins to run
    } cases[] = {
        {"current directory takes them", {}, "", "QAVEX"},
        {"current directory refuses", {"cwd"}, "", "QAVEX"},
        {"install folder refuses too", {"cwd", "QAVEX"}, "", "tmp"},
        {"no folder takes them", {"cwd", "QAVEX", "tmp"}, "", ""},
        {"restart cannot be launched", {}, Script("runextern"), ""},
        {"clean-up cannot be launched", {}, Script("killfile"), ""},
        {"restart never begins", {}, "", "", Script("runextern")},
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
        silentScript = c.silent;
        Install();
        EXPECT_TRUE(fs::is_empty(home / "cwd")) << c.name;
        if (c.scriptFolder.empty()) {
            EXPECT_EQ(events, c.silent.empty() ? std::vector<std::string>{}
                                               : std::vector<std::string>{"end:1"})
                << c.name << ": no quit, autostart kept";
            EXPECT_TRUE(fs::exists(Shortcut())) << c.name;
            for (const char* dir : {"cwd", "QAVEX", "tmp"})
                for (const char* base : {"killfile", c.refusedLaunch.empty() ? "runextern" : ""})
                    for (const std::string& file : {Script(base), ScriptRunMark(Script(base))})
                        EXPECT_FALSE(fs::exists(home / (std::string(dir) + "/" + file)))
                            << c.name << ": nothing left behind in " << dir;
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
        silentScript.clear();
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
    EXPECT_FALSE(fs::exists(JoinPath(options.paths.installDir, Script("killfile"))));
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
    // No install folder here: the temporary folder, never the current one.
    EXPECT_EQ(launched, std::vector<std::string>{Script("killfileall") + "|" + (home / "tmp")});
#ifndef _WIN32
    EXPECT_EQ(fs::status(home / ("tmp/" + Script("killfileall"))).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << "nobody else reads or writes into a script";
#endif

    launched.clear();
    WriteFile(Shortcut(), "x");
    options.folderWritable = [](const std::string&) { return false; };
    UninstallSelf(options);  // no script: nothing at all
    EXPECT_TRUE(fs::exists(Shortcut()));
    EXPECT_TRUE(launched.empty());
}

// What the session's autostart of that name runs.
std::string Registered(const std::string& name) {
#ifdef _WIN32
    return platform::win::ReadRegString(HKEY_CURRENT_USER,
                                        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", name)
        .value_or("");
#else
    return ReadFile(platform::GetEnv("XDG_CONFIG_HOME") + "/autostart/" + name + ".desktop");
#endif
}

// A reinstall keeps the start with the session: the registration, where there
// is one, names the installed copy afterwards; none is made where none was.
TEST_F(InstallSelfTest, RelocationPointsTheAutostartAtTheInstalledCopy) {
#ifndef _WIN32
    setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
#endif
    options.moveAutoRun = nullptr;  // the system's own registration
    const std::string name = "brisken";
    const std::string installed = JoinPath(options.paths.installDir, options.paths.exeName);
    for (const bool before : {false, true}) {
        SetUp();
        options.moveAutoRun = nullptr;
        platform::RemoveAutostart(name);
        if (before)
            ASSERT_TRUE(
                platform::SetAutostart(name, platform::AutostartCommand(home / "start/brisken")));
        Install();
        EXPECT_EQ(events.back(), "quit");
        EXPECT_EQ(platform::AutostartExists(name), before);
        if (before)
            EXPECT_NE(Registered(name).find(installed), std::string::npos) << Registered(name);
        platform::RemoveAutostart(name);
        events.clear();
        host.events.clear();
        fs::remove_all(home / "QAVEX");
    }
#ifndef _WIN32
    unsetenv("XDG_CONFIG_HOME");
#endif
}

}  // namespace
