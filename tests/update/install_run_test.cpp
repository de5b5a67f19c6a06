// The sh scripts run for real, and the stand-in program relocating, updating
// and uninstalling itself through them: Linux only.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <thread>

#include "platform/launcher.h"
#include "tests/support/http_server.h"
#include "tests/update/install_fixture.h"
#include "tests/update/process_util.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A pid that has certainly ended.
int EndedPid() {
    const int pid = StartProcess("/bin/true", {}, "/", {});
    WaitChild(pid, 10s);
    return pid;
}

using InstallSelfTest = InstallFixture;

TEST_F(InstallSelfTest, LauncherNamesTheInstalledCopy) {
    fs::create_directory(home / "QAVEX");
    fs::copy_file(home / "start/brisken", home / "QAVEX/brisken");
    UseExecutable(home / "QAVEX/brisken");
    Install();
    const std::string entry = ReadFile(home / "Desktop/brisken.desktop");
    EXPECT_NE(entry.find("Exec=\"" + (home / "QAVEX/brisken") + "\"\n"), std::string::npos);
    EXPECT_NE(entry.find("Path=" + (home / "QAVEX") + "\n"), std::string::npos);
}

TEST_F(InstallSelfTest, RelocationScriptRemovesTheOldLogFolderWhole) {
    Install();
    const std::string killfile = ReadFile(home / "QAVEX/killfile.sh");
    EXPECT_NE(killfile.find("rm -rf -- '" + (home / "start/CATLOG") + "'"), std::string::npos);
}

TEST_F(InstallSelfTest, SymlinkedInstallFolderIsStillTheInstallFolder) {
    fs::create_directory(home / "real");
    fs::copy_file(home / "start/brisken", home / "real/brisken");
    fs::create_directory_symlink(home / "real", home / "QAVEX");
    WriteFile(Shortcut(), "mine");
    UseExecutable(home / "real/brisken");
    Install();
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(launched.empty());
    EXPECT_TRUE(fs::exists(home / "real/brisken"));
}

// ---- The scripts themselves, run by sh on awkward names.

// Root writes through file modes: a read-only bind mount is what refuses it.
class ReadOnlyMount {
public:
    explicit ReadOnlyMount(const std::string& path) : m_path(path) {
        m_mounted = Mount({"--bind", path, path});
        if (m_mounted && !Mount({"-o", "remount,bind,ro", path})) m_mounted = !Unmount();
        EXPECT_TRUE(m_mounted) << "read-only bind mount of " << path;
    }
    ~ReadOnlyMount() {
        if (m_mounted) Unmount();
    }
    ReadOnlyMount(const ReadOnlyMount&) = delete;
    ReadOnlyMount& operator=(const ReadOnlyMount&) = delete;

private:
    static bool Mount(const std::vector<std::string>& args) {
        return WaitChild(StartProcess("/bin/mount", args, "/", {"PATH=/usr/bin:/bin"}), 20s) == 0;
    }
    bool Unmount() {
        return WaitChild(StartProcess("/bin/umount", {m_path}, "/", {"PATH=/usr/bin:/bin"}), 20s) ==
               0;
    }
    std::string m_path;
    bool m_mounted = false;
};

ScriptRun RunOf(int pid, const std::string& self, const std::string& startDir = "",
                int waitSeconds = 1) {
    ScriptRun run;
    run.pid = pid;
    run.self = self;
    run.startDir = startDir;
    run.waitSeconds = waitSeconds;
    return run;
}

void RunScript(const std::string& script, const std::string& text, const std::string& dir) {
    WriteFile(script, text);
    const int shell = platform::LaunchScriptDetached(script, dir);
    ASSERT_GT(shell, 0);
    EXPECT_TRUE(WaitUntil([&] { return !fs::exists(script) && !ProcessAlive(shell); }, 20s));
    EndProcess(shell);
}

TEST(ScriptsRun, RemoveExactlyTheNamedFiles) {
    TempDir tmp;
    const std::string oldDir = tmp / "old 'place' $HOME";
    const std::string installDir = tmp / "QA\"VEX";
    for (const auto& d : {oldDir, installDir}) {
        fs::create_directories(d + "/CATLOG/sub");
        WriteFile(d + "/brisken", "exe");
        WriteFile(d + "/brisken.ini", "ini");
        WriteFile(d + "/CATLOG/sub/log", "log");
        WriteFile(d + "/brisken.ini.bak", "keep");
        WriteFile(d + "/other", "keep");
        fs::create_directories(d + "/sub");
        WriteFile(d + "/sub/brisken", "keep");  // never in subfolders
    }
    const int pid = EndedPid();
    RunScript(tmp / "killfile.sh",
              KillfileScriptText(RunOf(pid, tmp / "killfile.sh"), oldDir, "brisken", "brisken.ini",
                                 installDir + "/brisken"),
              tmp.path());
    EXPECT_FALSE(fs::exists(oldDir + "/brisken"));
    EXPECT_FALSE(fs::exists(oldDir + "/brisken.ini"));
    EXPECT_FALSE(fs::exists(oldDir + "/CATLOG"));
    EXPECT_EQ(ReadFile(oldDir + "/other"), "keep");
    EXPECT_EQ(ReadFile(oldDir + "/brisken.ini.bak"), "keep");
    EXPECT_EQ(ReadFile(oldDir + "/sub/brisken"), "keep");
    EXPECT_EQ(ReadFile(installDir + "/brisken"), "exe");

    WriteFile(oldDir + "/brisken", "exe");
    RunScript(tmp / "killfileall.sh",
              KillfileallScriptText(RunOf(pid, tmp / "killfileall.sh"), installDir, installDir,
                                    "brisken", "brisken.ini"),
              tmp.path());
    EXPECT_FALSE(fs::exists(installDir + "/brisken"));
    EXPECT_FALSE(fs::exists(installDir + "/CATLOG"));
    EXPECT_TRUE(fs::is_directory(installDir));
    EXPECT_EQ(ReadFile(installDir + "/other"), "keep");
    EXPECT_EQ(ReadFile(installDir + "/sub/brisken"), "keep");
    EXPECT_EQ(ReadFile(oldDir + "/brisken"), "exe");

    // Without the installed copy the old one is the only one: it stays.
    RunScript(tmp / "killfile.sh",
              KillfileScriptText(RunOf(pid, tmp / "killfile.sh"), oldDir, "brisken", "brisken.ini",
                                 installDir + "/brisken"),
              tmp.path());
    EXPECT_EQ(ReadFile(oldDir + "/brisken"), "exe");
}

TEST(ScriptsRun, WaitForTheProgramToEnd) {
    TempDir tmp;
    WriteFile(tmp / "brisken", "exe");
    WriteFile(tmp / "installed", "exe");
    const int sleeper = StartProcess("/bin/sleep", {"30"}, "/", {});
    const std::string script = tmp / "killfile.sh";
    WriteFile(script, KillfileScriptText(RunOf(sleeper, script, "", 60), tmp.path(), "brisken",
                                         "brisken.ini", tmp / "installed"));
    const int shell = platform::LaunchScriptDetached(script, tmp.path());
    ASSERT_GT(shell, 0);
    // Still waiting while the program runs.
    EXPECT_FALSE(WaitUntil([&] { return !fs::exists(tmp / "brisken"); }, 600ms));
    EndProcess(sleeper);
    WaitChild(sleeper, 10s);
    EXPECT_TRUE(
        WaitUntil([&] { return !fs::exists(tmp / "brisken") && !fs::exists(script); }, 20s));
    EXPECT_TRUE(WaitUntil([&] { return !ProcessAlive(shell); }, 10s));
    EndProcess(shell);
}

// Every way the update script can fail still ends with a program started, in
// the folder the program was started from: the new one only once it confirms
// its clean start, else the old one put back.
TEST(ScriptsRun, UpdateEndsWithTheInstalledProgramRunning) {
    enum Refusal {
        None,
        NoDownload,
        StillEnding,
        FolderReadOnly,
        FileReadOnly,
        ProgramStays,
        StartDirGone
    };
    enum NewProgram { Confirms, ExitsAtOnce, Crashes, Hangs };
    const struct Case {
        const char* name;
        Refusal refusal;
        NewProgram served;
        bool replaced;
    } cases[] = {
        {"replaced", None, Confirms, true},
        {"new program exits at once: the old one is back", None, ExitsAtOnce, false},
        {"new program crashes: the old one is back", None, Crashes, false},
        {"new program hangs without confirming: the old one is back", None, Hangs, false},
        {"download missing", NoDownload, Confirms, false},
        {"download missing while the program is still ending", StillEnding, Confirms, false},
        {"copy refused", FolderReadOnly, Confirms, false},
        {"replace refused until the wait runs out", FileReadOnly, Confirms, false},
        {"program still running when the wait runs out", ProgramStays, Confirms, false},
        {"start folder gone", StartDirGone, Confirms, true},
    };
    for (const auto& c : cases) {
        TempDir tmp;
        const std::string dir = tmp / "QA 'VEX'";
        const std::string exe = dir + "/brisken";
        const std::string mark = dir + "/brisken.started";
        const std::string started = tmp / "started";
        fs::create_directories(dir);
        fs::create_directories(tmp / "start here");
        const auto program = [&](const std::string& which, const std::string& then) {
            return "#!/bin/sh\necho \"" + which + " $PWD\" > " + ShQuote(started) + "\n" + then +
                   "\n";
        };
        const std::string ends[] = {": > " + ShQuote(mark), "", "kill -SEGV $$",
                                    "exec /bin/sleep 30"};
        const std::string newEnd = ends[c.served];
        WriteFile(exe, program("old", ""));
        fs::permissions(exe, fs::perms::owner_all);
        if (c.refusal != NoDownload && c.refusal != StillEnding)
            WriteFile(dir + "/UpdateFile.sob", program("new", newEnd));
        if (c.refusal == StartDirGone) fs::remove(tmp / "start here");
        const int sleeper = c.refusal == ProgramStays ? StartProcess("/bin/sleep", {"30"}, "/", {})
                            : c.refusal == StillEnding
                                ? StartProcess("/bin/sleep", {"0.5"}, "/", {})
                                : -1;
        // The program that takes a moment to end: a copy started beside it
        // would leave at once as the second copy.
        std::atomic<bool> ended{false};
        std::thread reaper;
        if (c.refusal == StillEnding)
            reaper = std::thread([&] { ended = WaitChild(sleeper, 10s) >= 0; });
        std::unique_ptr<ReadOnlyMount> mount;
        if (c.refusal == FolderReadOnly) mount = std::make_unique<ReadOnlyMount>(dir);
        if (c.refusal == FileReadOnly) mount = std::make_unique<ReadOnlyMount>(exe);

        const std::string script = tmp / "update_brisken.sh";
        ScriptRun run = RunOf(sleeper > 0 ? sleeper : EndedPid(), script, tmp / "start here");
        run.confirmSeconds = 2;
        RunScript(script, UpdateScriptText(run, dir + "/UpdateFile.sob", exe, mark), tmp.path());
        if (reaper.joinable()) {
            EXPECT_TRUE(ended) << c.name;
            reaper.join();
        }
        const std::string where = c.refusal == StartDirGone ? tmp.path() : tmp / "start here";
        const std::string expected = std::string(c.replaced ? "new " : "old ") + where + "\n";
        EXPECT_TRUE(WaitUntil([&] { return ReadFile(started) == expected; }, 10s))
            << c.name << ": " << ReadFile(started);
        EXPECT_NE(ReadFile(exe).find(c.replaced ? "echo \"new" : "echo \"old"), std::string::npos)
            << c.name;
        EXPECT_FALSE(fs::exists(dir + "/brisken.new")) << c.name;
        EXPECT_FALSE(fs::exists(dir + "/brisken.old")) << c.name;
        mount.reset();
        if (c.refusal == ProgramStays) {
            EndProcess(sleeper);
            WaitChild(sleeper, 10s);
        }
    }
}

// Once the program has ended, or the wait has run out, runextern starts
// whichever copy exists.
TEST(ScriptsRun, RunexternStartsWhicheverCopyExists) {
    for (const bool installedThere : {true, false}) {
        TempDir tmp;
        const auto program = [&](const std::string& which) {
            return "#!/bin/sh\necho " + which + " > " + ShQuote(tmp / "started") + "\n";
        };
        for (const char* name : {"installed", "old"}) {
            if (std::string(name) == "installed" && !installedThere) continue;
            WriteFile(tmp / name, program(name));
            fs::permissions(tmp / name, fs::perms::owner_all);
        }
        const std::string script = tmp / "runextern.sh";
        RunScript(script,
                  RunexternScriptText(RunOf(EndedPid(), script), tmp / "installed", tmp / "old"),
                  tmp.path());
        EXPECT_TRUE(WaitUntil([&] { return !ReadFile(tmp / "started").empty(); }, 10s));
        EXPECT_EQ(ReadFile(tmp / "started"), installedThere ? "installed\n" : "old\n");
    }
}

// ---- The real thing: the stand-in program relocating, updating, uninstalling.

class SelfManagementRun : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(home / "Desktop");
        fs::create_directories(home / ".config/autostart");
        fs::create_directories(home / "cwd 'here'");
        helper = ReadFile(UPDATE_HELPER_PATH);
        ASSERT_FALSE(helper.empty());
    }
    void TearDown() override {
        std::istringstream pids(ReadFile(home / "pids"));
        for (int pid; pids >> pid;) EndProcess(pid);
    }
    void Place(const std::string& path, const std::string& bytes) {
        fs::create_directories(fs::path(path).parent_path());
        WriteFile(path, bytes);
        fs::permissions(path, fs::perms::owner_all);
    }
    int Run(const std::string& exe, const std::vector<std::string>& args, const std::string& dir) {
        const std::vector<std::string> env = {
            "HOME=" + home.path(), "XDG_CONFIG_HOME=" + (home / ".config"), "PATH=/usr/bin:/bin"};
        const int pid = StartProcess(exe, args, dir, env);
        EXPECT_GT(pid, 0);
        EXPECT_EQ(WaitChild(pid, 60s), 0);
        return pid;
    }
    // The marker a copy started from dir (not the one with pid) wrote.
    std::string StartedIn(const std::string& dir, int exceptPid) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir, ec)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("started-", 0) == 0 && name != "started-" + std::to_string(exceptPid))
                return ReadFile(e.path().string());
        }
        return {};
    }

    TempDir home;
    std::string helper;
};

TEST_F(SelfManagementRun, RelocatesFromAnotherFolder) {
    const std::string oldDir = home / "some \"old\" place";
    Place(oldDir + "/brisken", helper);
    WriteFile(oldDir + "/brisken.ini", "[COMPORT]\nport=7\n");
    fs::create_directories(oldDir + "/CATLOG");
    WriteFile(oldDir + "/CATLOG/brisken_20240101.log", "log");
    WriteFile(oldDir + "/notes.txt", "keep");
    WriteFile(home / ".config/autostart/brisken.desktop", "[Desktop Entry]\nExec=x\n");
    const std::string cwd = home / "cwd 'here'";

    const int pid = Run(oldDir + "/brisken", {}, cwd);
    EXPECT_NE(ReadFile(oldDir + "/started-" + std::to_string(pid)).find("quit=1"),
              std::string::npos);
    // The autostart now starts the installed copy.
    EXPECT_NE(ReadFile(home / ".config/autostart/brisken.desktop").find(home / "QAVEX/brisken"),
              std::string::npos);

    // The installed copy starts once the old one has ended, and the old files go.
    ASSERT_TRUE(WaitUntil([&] { return !StartedIn(home / "QAVEX", pid).empty(); }, 30s));
    EXPECT_NE(StartedIn(home / "QAVEX", pid).find("install result=0 quit=0"), std::string::npos);
    EXPECT_TRUE(WaitUntil(
        [&] {
            return !fs::exists(oldDir + "/brisken") && !fs::exists(home / "QAVEX/killfile.sh") &&
                   !fs::exists(home / "QAVEX/runextern.sh");
        },
        30s));
    EXPECT_FALSE(fs::exists(oldDir + "/brisken.ini"));
    EXPECT_FALSE(fs::exists(oldDir + "/CATLOG"));
    EXPECT_EQ(ReadFile(oldDir + "/notes.txt"), "keep");
    EXPECT_EQ(ReadFile(home / "QAVEX/brisken"), helper);
    EXPECT_TRUE(IsRunnableFile(home / "QAVEX/brisken"));
    EXPECT_EQ(ReadFile(home / "QAVEX/brisken.ini"), "[COMPORT]\nport=7\n");
    const std::string entry = ReadFile(home / "Desktop/brisken.desktop");
    EXPECT_NE(entry.find("Exec=\"" + (home / "QAVEX/brisken") + "\""), std::string::npos);
}

TEST_F(SelfManagementRun, UpdateReplacesTheInstalledExecutableAndStartsIt) {
    const std::string installed = home / "QAVEX/brisken";
    Place(installed, helper);
    WriteFile(home / "Desktop/brisken.desktop", "x");
    const std::string newBuild = helper + "\nNEW BUILD 2.0.0.7\n";
    TestHttpServer server;
    server.Set("/brisken/brisken_ver.php?app_name=Brisken",
               TestHttpServer::Ok(R"({"status":"ok","version":"2.0.0.7","url":")" +
                                  server.Url("/new") + "\"}\r\n"));
    server.Set("/new", TestHttpServer::Ok(newBuild));

    const int pid = Run(installed, {"update", server.host()}, home / "cwd 'here'");
    EXPECT_NE(
        ReadFile(home / ("QAVEX/started-" + std::to_string(pid))).find("update result=1 quit=1"),
        std::string::npos);
    ASSERT_TRUE(WaitUntil([&] { return !StartedIn(home / "QAVEX", pid).empty(); }, 30s));
    EXPECT_EQ(ReadFile(installed), newBuild);
    EXPECT_TRUE(IsRunnableFile(installed));
    EXPECT_TRUE(WaitUntil(
        [&] {
            return !fs::exists(home / "QAVEX/UpdateFile.sob") &&
                   !fs::exists(home / "QAVEX/update_brisken.sh");
        },
        30s));
}

// The session's autostart starts the program in a folder the user cannot
// write: the scripts go to the install folder, and the restarted program
// still runs in the folder it was started in.
TEST_F(SelfManagementRun, StartFolderThatCannotBeWrittenStillRelocatesAndUpdates) {
    const std::string cwd = home / "system";
    fs::create_directories(cwd);
    ReadOnlyMount readOnly(cwd);
    const std::string oldDir = home / "old";
    Place(oldDir + "/brisken", helper);

    const int pid = Run(oldDir + "/brisken", {}, cwd);
    EXPECT_NE(ReadFile(oldDir + "/started-" + std::to_string(pid)).find("quit=1"),
              std::string::npos);
    ASSERT_TRUE(WaitUntil([&] { return !StartedIn(home / "QAVEX", pid).empty(); }, 30s));
    EXPECT_NE(StartedIn(home / "QAVEX", pid).find("cwd=" + cwd), std::string::npos);
    EXPECT_TRUE(WaitUntil(
        [&] {
            return !fs::exists(oldDir + "/brisken") && !fs::exists(home / "QAVEX/killfile.sh") &&
                   !fs::exists(home / "QAVEX/runextern.sh");
        },
        30s));

    for (const auto& e : fs::directory_iterator(home / "QAVEX"))
        if (e.path().filename().string().rfind("started-", 0) == 0) fs::remove(e.path());
    const std::string installed = home / "QAVEX/brisken";
    const std::string newBuild = helper + "\nNEW BUILD 2.0.0.7\n";
    TestHttpServer server;
    server.Set("/brisken/brisken_ver.php?app_name=Brisken",
               TestHttpServer::Ok(R"({"status":"ok","version":"2.0.0.7","url":")" +
                                  server.Url("/new") + "\"}"));
    server.Set("/new", TestHttpServer::Ok(newBuild));
    const int updating = Run(installed, {"update", server.host()}, cwd);
    EXPECT_NE(ReadFile(home / ("QAVEX/started-" + std::to_string(updating)))
                  .find("update result=1 quit=1"),
              std::string::npos);
    ASSERT_TRUE(WaitUntil([&] { return !StartedIn(home / "QAVEX", updating).empty(); }, 30s));
    EXPECT_EQ(ReadFile(installed), newBuild);
    EXPECT_NE(StartedIn(home / "QAVEX", updating).find("cwd=" + cwd), std::string::npos);
    EXPECT_TRUE(WaitUntil([&] { return !fs::exists(home / "QAVEX/update_brisken.sh"); }, 30s));
}

TEST_F(SelfManagementRun, UninstallLeavesTheFolderAndUnrelatedFiles) {
    const std::string installed = home / "QAVEX/brisken";
    Place(installed, helper);
    WriteFile(home / "QAVEX/brisken.ini", "ini");
    fs::create_directories(home / "QAVEX/CATLOG");
    WriteFile(home / "QAVEX/CATLOG/brisken_20240101.log", "log");
    WriteFile(home / "QAVEX/receipts.txt", "keep");
    WriteFile(home / "cwd 'here'/brisken.ini", "someone else's");
    WriteFile(home / "Desktop/brisken.desktop", "x");

    const int pid = Run(installed, {"uninstall"}, home / "cwd 'here'");
    EXPECT_FALSE(fs::exists(home / "Desktop/brisken.desktop"));
    EXPECT_TRUE(WaitUntil(
        [&] { return !fs::exists(installed) && !fs::exists(home / "QAVEX/killfileall.sh"); }, 30s));
    EXPECT_FALSE(fs::exists(home / "QAVEX/brisken.ini"));
    EXPECT_FALSE(fs::exists(home / "QAVEX/CATLOG"));
    EXPECT_TRUE(fs::is_directory(home / "QAVEX"));
    EXPECT_EQ(ReadFile(home / "QAVEX/receipts.txt"), "keep");
    EXPECT_EQ(ReadFile(home / "cwd 'here'/brisken.ini"), "someone else's");
    EXPECT_TRUE(fs::exists(home / ("QAVEX/started-" + std::to_string(pid))));
}

}  // namespace
