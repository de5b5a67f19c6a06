// The batch scripts: their text, and run by cmd on awkward names.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>

#include "platform/launcher.h"
#include "platform/system.h"
#include "tests/support/temp_dir.h"
#include "tests/update/process_util.h"
#include "update/scripts.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

ScriptRun RunOf(const std::string& self, const std::string& startDir = "", int waitSeconds = 2) {
    ScriptRun run;
    run.self = self;
    run.startDir = startDir;
    run.waitSeconds = waitSeconds;
    run.confirmSeconds = 3;
    return run;
}

TEST(BatchScripts, QuoteEveryPathAndNameOnlyItsFiles) {
    const std::string kill =
        KillfileScriptText(RunOf("C:\\cwd\\killfile.bat"), "C:\\old 100% place\\", "Brisken.exe",
                           "Brisken.ini", "C:\\QAVEX\\Brisken.exe");
    EXPECT_EQ(kill.rfind("@echo off\r\n", 0), 0u);
    EXPECT_NE(kill.find("if not exist \"C:\\QAVEX\\Brisken.exe\" goto done"), std::string::npos);
    EXPECT_NE(kill.find("del /f /q \"C:\\old 100%% place\\Brisken.exe\""), std::string::npos);
    EXPECT_NE(kill.find("rmdir /s /q \"C:\\old 100%% place\\CATLOG\""), std::string::npos);
    EXPECT_NE(kill.find("\"%SystemRoot%\\System32\\PING.EXE\" -n 2 127.0.0.1 >nul"),
              std::string::npos)
        << "a retry waits a second";
    EXPECT_EQ(kill.find("/s /q \"C:\\old 100%% place\\Brisken"), std::string::npos)
        << "no /s on files";
    EXPECT_EQ(kill.find('*'), std::string::npos);
    const std::string last = "del /f /q \"C:\\cwd\\killfile.bat\" >nul 2>&1\r\n:pause\r\n";
    EXPECT_NE(kill.find(last), std::string::npos) << "it ends by deleting itself";

    const std::string update =
        UpdateScriptText(RunOf("C:\\c\\update_brisken.bat", "C:\\"), "C:\\QAVEX\\UpdateFile.sob",
                         "C:\\QAVEX\\Brisken.exe", "C:\\QAVEX\\Brisken.started");
    EXPECT_NE(
        update.find("copy /y /b \"C:\\QAVEX\\UpdateFile.sob\" \"C:\\QAVEX\\Brisken.exe.new\""),
        std::string::npos);
    EXPECT_NE(update.find("move /y \"C:\\QAVEX\\Brisken.exe.new\" \"C:\\QAVEX\\Brisken.exe\""),
              std::string::npos);
    EXPECT_NE(update.find("start \"\" /D \"C:\\.\" \"C:\\QAVEX\\Brisken.exe\" %1"),
              std::string::npos);

    const std::string run = RunexternScriptText(RunOf("C:\\c\\runextern.bat"),
                                                "C:\\QAVEX\\Brisken.exe", "D:\\x\\Brisken.exe");
    EXPECT_LT(run.find("if not exist \"D:\\x\\Brisken.exe\" goto start"),
              run.find("start \"\" \"C:\\QAVEX\\Brisken.exe\""));
    EXPECT_EQ(ScriptFileName("killfileall"), "killfileall.bat");
}

// Runs a script hidden through the shell and waits (bounded) until it is gone.
void RunScript(const std::string& script, const std::string& text, const std::string& dir) {
    const std::string bytes = platform::ScriptFileBytes(text);
    ASSERT_FALSE(bytes.empty());
    ASSERT_TRUE(WriteFile(script, bytes));
    const int pid = platform::LaunchScriptDetached(script, dir);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(WaitUntil([&] { return !fs::exists(script) && !ProcessAlive(pid); }, 60s));
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
              KillfileScriptText(RunOf(tmp / "killfile.bat"), oldDir, "brisken.exe", "brisken.ini",
                                 installDir + "/brisken.exe"),
              tmp.path());
    EXPECT_FALSE(fs::exists(oldDir + "/brisken.exe"));
    EXPECT_FALSE(fs::exists(oldDir + "/brisken.ini"));
    EXPECT_FALSE(fs::exists(oldDir + "/CATLOG"));
    EXPECT_EQ(ReadFile(oldDir + "/brisken.ini.bak"), "keep");
    EXPECT_EQ(ReadFile(oldDir + "/sub/brisken.exe"), "keep");
    EXPECT_EQ(ReadFile(installDir + "/brisken.exe"), "exe");

    RunScript(tmp / "killfileall.bat",
              KillfileallScriptText(RunOf(tmp / "killfileall.bat"), installDir, installDir,
                                    "brisken.exe", "brisken.ini"),
              tmp.path());
    EXPECT_FALSE(fs::exists(installDir + "/brisken.exe"));
    EXPECT_FALSE(fs::exists(installDir + "/CATLOG"));
    EXPECT_TRUE(fs::is_directory(installDir));
    EXPECT_EQ(ReadFile(installDir + "/sub/brisken.exe"), "keep");
}

// A file held open the way the system holds a running program's file (read
// shared, never deleted or written over) or a scanner a download (not shared).
class HeldFile {
public:
    HeldFile(const std::string& path, DWORD share)
        : m_handle(CreateFileW(platform::FsPath(path).c_str(), GENERIC_READ, share, nullptr,
                               OPEN_EXISTING, 0, nullptr)) {
        EXPECT_NE(m_handle, INVALID_HANDLE_VALUE) << path;
    }
    ~HeldFile() {
        if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

private:
    HANDLE m_handle;
};

// Every way the update script can fail still ends with the installed program
// started, in the folder the program was started from; a folder whose name
// the console code page lacks is named by its short name, or not at all.
TEST(BatchScripts, UpdateEndsWithTheInstalledProgramRunning) {
    const std::string marker = ReadFile(STARTED_MARKER_PATH);
    ASSERT_FALSE(marker.empty());
    enum Refusal { None, NoDownload, DownloadHeld, ProgramHeld, StartDirGone, OutsideCodePage };
    const struct Case {
        const char* name;
        Refusal refusal;
        bool replaced;
        const char* served = "CONFIRM";  // what the new program does
    } cases[] = {
        {"replaced", None, true},
        {"new program exits at once: the old one is back", None, false, "EXIT"},
        {"new program crashes: the old one is back", None, false, "CRASH"},
        {"new program hangs without confirming: the old one is back", None, false, "HANG"},
        {"download missing", NoDownload, false},
        {"copy refused", DownloadHeld, false},
        {"replace refused until the wait runs out", ProgramHeld, false},
        {"start folder gone", StartDirGone, true},
        {"folder outside the console code page", OutsideCodePage, true},
    };
    for (const auto& c : cases) {
        TempDir tmp;
        const std::string dir =
            tmp / (c.refusal == OutsideCodePage ? "QA \xC5\x9D\xF0\x9F\x98\x80" : "QA (VEX) 100%");
        const std::string startDir = tmp / "start here";
        fs::create_directories(platform::FsPath(dir));
        fs::create_directories(startDir);
        const std::string newBuild = marker + std::string(512, 'N') + c.served;
        // Not the gateway's own name: the script ends this user's copies of it.
        std::string exe = dir + "\\gate.exe";
        std::string mark = dir + "\\gate.started";
        std::string download = dir + "\\UpdateFile.sob";
        WriteFile(exe, marker);
        if (c.refusal != NoDownload) WriteFile(download, newBuild);
        if (c.refusal == StartDirGone) fs::remove(startDir);
        if (c.refusal == OutsideCodePage) {
            EXPECT_TRUE(platform::ScriptFileBytes("@echo off\r\nrem " + exe + "\r\n").empty())
                << "no character of the path is written as a look-alike or a ?";
            // A file is never named by a short name of its own (moved over by
            // it, it would keep only that name).
            const std::string oddName = dir + "\\\xF0\x9F\x98\x80.exe";
            WriteFile(oddName, "x");
            EXPECT_EQ(platform::ScriptPathText(oddName), "");
            exe = platform::ScriptPathText(exe);
            download = platform::ScriptPathText(download);
            mark = platform::ScriptPathText(mark);
            if (exe.empty() || download.empty()) {
                // No short names here: no script at all (the program goes on).
                EXPECT_TRUE(exe.empty() && download.empty()) << c.name;
                continue;
            }
            EXPECT_EQ(exe.find('?'), std::string::npos);
        }
        std::unique_ptr<HeldFile> held;
        if (c.refusal == DownloadHeld) held = std::make_unique<HeldFile>(download, 0);
        if (c.refusal == ProgramHeld) held = std::make_unique<HeldFile>(exe, FILE_SHARE_READ);

        const std::string script = tmp / "update_brisken.bat";
        RunScript(script, UpdateScriptText(RunOf(script, startDir), download, exe, mark),
                  tmp.path());
        const std::string started = JoinPath(dir, "started.txt");
        EXPECT_TRUE(WaitUntil([&] { return !ReadFile(started).empty(); }, 20s)) << c.name;
        // The last program started is the one that stays.
        std::istringstream lines(ReadFile(started));
        size_t size = 0;
        std::string where;
        for (size_t s = 0; lines >> s;) {
            size = s;
            std::getline(lines >> std::ws, where);
        }
        if (!where.empty() && where.back() == '\r') where.pop_back();
        EXPECT_EQ(size, (c.replaced ? newBuild : marker).size()) << c.name;
        const std::string expectedDir = c.refusal == StartDirGone ? tmp.path() : startDir;
        std::error_code ec;
        EXPECT_TRUE(fs::equivalent(platform::FsPath(where), platform::FsPath(expectedDir), ec))
            << c.name << ": started in " << where;
        held.reset();
        EXPECT_FALSE(fs::exists(platform::FsPath(dir + "\\gate.exe.new"))) << c.name;
        EXPECT_FALSE(fs::exists(platform::FsPath(dir + "\\gate.exe.old"))) << c.name;
        WaitUntil(
            [&] {
                return fs::remove(platform::FsPath(started), ec) ||
                       !fs::exists(platform::FsPath(started));
            },
            10s);
    }
}

}  // namespace
