// The batch scripts: their text, and run by cmd on awkward names.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/launcher.h"
#include "tests/support/temp_dir.h"
#include "tests/update/process_util.h"
#include "update/scripts.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(BatchScripts, QuoteEveryPathAndNameOnlyItsFiles) {
    const std::string kill = KillfileScriptText(1, "C:\\old 100% place\\", "Brisken.exe",
                                                "Brisken.ini", "C:\\cwd\\killfile.bat");
    EXPECT_EQ(kill.rfind("@echo off\r\n", 0), 0u);
    EXPECT_NE(kill.find("del /f /q \"C:\\old 100%% place\\Brisken.exe\""), std::string::npos);
    EXPECT_NE(kill.find("rmdir /s /q \"C:\\old 100%% place\\CATLOG\""), std::string::npos);
    EXPECT_NE(kill.find("ping -n 2 127.0.0.1 >nul"), std::string::npos) << "a retry waits a second";
    EXPECT_EQ(kill.find("/s /q \"C:\\old 100%% place\\Brisken"), std::string::npos)
        << "no /s on files";
    EXPECT_EQ(kill.find('*'), std::string::npos);
    const std::string last = "del /f /q \"C:\\cwd\\killfile.bat\" >nul 2>&1\r\n";
    EXPECT_EQ(kill.substr(kill.size() - last.size()), last) << "it ends by deleting itself";

    const std::string update = UpdateScriptText(
        1, "C:\\QAVEX\\UpdateFile.sob", "C:\\QAVEX\\Brisken.exe", "C:\\c\\update_brisken.bat");
    EXPECT_NE(update.find("copy /y \"C:\\QAVEX\\UpdateFile.sob\" \"C:\\QAVEX\\Brisken.exe.new\""),
              std::string::npos);
    EXPECT_NE(update.find("move /y \"C:\\QAVEX\\Brisken.exe.new\" \"C:\\QAVEX\\Brisken.exe\""),
              std::string::npos);
    EXPECT_NE(update.find("start \"\" \"C:\\QAVEX\\Brisken.exe\" %1"), std::string::npos);

    const std::string run = RunexternScriptText(1, "C:\\QAVEX\\Brisken.exe", "D:\\x\\Brisken.exe",
                                                "C:\\c\\runextern.bat");
    EXPECT_LT(run.find("if not exist \"D:\\x\\Brisken.exe\" goto start"),
              run.find("start \"\" \"C:\\QAVEX\\Brisken.exe\""));
    EXPECT_EQ(ScriptFileName("killfileall"), "killfileall.bat");
}

// Runs a script hidden through the shell and waits (bounded) until it is gone.
void RunScript(const std::string& script, const std::string& text, const std::string& dir) {
    ASSERT_TRUE(WriteFile(script, platform::ScriptFileBytes(text)));
    const int pid = platform::LaunchScriptDetached(script, dir);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(WaitUntil([&] { return !fs::exists(script) && !ProcessAlive(pid); }, 30s));
    EndProcess(pid);
}

TEST(BatchScripts, RemoveExactlyTheNamedFiles) {
    TempDir tmp;
    const std::string oldDir = tmp / "old & (odd) 100% place";
    const std::string installDir = tmp / "QA VEX";
    for (const auto& d : {oldDir, installDir}) {
        fs::create_directories(d + "/CATLOG/sub");
        fs::create_directories(d + "/sub");
        WriteFile(d + "/brisken.exe", "exe");
        WriteFile(d + "/brisken.ini", "ini");
        WriteFile(d + "/CATLOG/sub/log", "log");
        WriteFile(d + "/brisken.ini.bak", "keep");
        WriteFile(d + "/sub/brisken.exe", "keep");  // never in subfolders
    }
    RunScript(tmp / "killfile.bat",
              KillfileScriptText(0, oldDir, "brisken.exe", "brisken.ini", tmp / "killfile.bat"),
              tmp.path());
    EXPECT_FALSE(fs::exists(oldDir + "/brisken.exe"));
    EXPECT_FALSE(fs::exists(oldDir + "/brisken.ini"));
    EXPECT_FALSE(fs::exists(oldDir + "/CATLOG"));
    EXPECT_EQ(ReadFile(oldDir + "/brisken.ini.bak"), "keep");
    EXPECT_EQ(ReadFile(oldDir + "/sub/brisken.exe"), "keep");
    EXPECT_EQ(ReadFile(installDir + "/brisken.exe"), "exe");

    RunScript(tmp / "killfileall.bat",
              KillfileallScriptText(0, installDir, installDir, "brisken.exe", "brisken.ini",
                                    tmp / "killfileall.bat"),
              tmp.path());
    EXPECT_FALSE(fs::exists(installDir + "/brisken.exe"));
    EXPECT_FALSE(fs::exists(installDir + "/CATLOG"));
    EXPECT_TRUE(fs::is_directory(installDir));
    EXPECT_EQ(ReadFile(installDir + "/sub/brisken.exe"), "keep");
}

TEST(BatchScripts, UpdateReplacesTheInstalledFileAndRemovesTheDownload) {
    TempDir tmp;
    const std::string dir = tmp / "QA VEX";
    fs::create_directories(dir);
    WriteFile(dir + "/brisken.exe", "old");
    WriteFile(dir + "/UpdateFile.sob", "new build");
    // What the script starts must exist; an empty text file stands in and
    // ends at once.
    RunScript(tmp / "update_brisken.bat",
              UpdateScriptText(0, dir + "/UpdateFile.sob", dir + "/brisken.exe",
                               tmp / "update_brisken.bat"),
              tmp.path());
    EXPECT_EQ(ReadFile(dir + "/brisken.exe"), "new build");
    EXPECT_FALSE(fs::exists(dir + "/UpdateFile.sob"));
    EXPECT_FALSE(fs::exists(dir + "/brisken.exe.new"));
}

}  // namespace
