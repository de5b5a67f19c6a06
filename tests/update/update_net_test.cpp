#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/launcher.h"
#include "platform/system.h"
#include "tests/support/http_server.h"
#include "tests/support/temp_dir.h"
#include "tests/update/check_update_fixture.h"
#include "tests/update/fake_update_host.h"
#include "tests/update/process_util.h"
#include "update/download.h"
#include "update/scripts.h"
#include "update/update_state.h"

namespace {

// A stand-in interpreter that starts and runs no script.
std::string SilentProgram() {
#ifdef _WIN32
    return platform::GetEnv("SystemRoot") + "\\System32\\PING.EXE";
#else
    return "/bin/sleep";
#endif
}
std::vector<std::string> SilentArgs() {
#ifdef _WIN32
    return {"-n", "30", "127.0.0.1"};
#else
    return {"30"};
#endif
}

using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(DownloadFile, CompleteOnlyForTheWholeValidExecutable) {
    const std::string exe = FakeExecutable(5000);
    struct Case {
        const char* name;
        TestHttpServer::Reply reply;
        int result;
        size_t size;
    } cases[] = {
        {"exact length", TestHttpServer::Answer(200, exe, exe.size()), 1, exe.size()},
        {"one byte short", TestHttpServer::Answer(200, exe.substr(1), exe.size()), 0, 0},
        {"more than announced", TestHttpServer::Answer(200, exe + "tail", exe.size()), 1,
         exe.size()},
        {"no length, clean end", TestHttpServer::Answer(200, exe, std::nullopt), 1, exe.size()},
        {"length 0, empty body", TestHttpServer::Answer(200, "", 0), 0, 0},
        {"error status", TestHttpServer::Answer(404, exe, exe.size()), 0, 0},
        {"server error", TestHttpServer::Answer(500, exe, exe.size()), 0, 0},
        {"not an executable", TestHttpServer::Ok(std::string(5000, 'M')), 0, 0},
        {"stalls",
         TestHttpServer::Reply{TestHttpServer::Answer(200, exe.substr(0, 10), exe.size()).raw,
                               20000},
         0, 0},
    };
    for (const auto& c : cases) {
        TestHttpServer server;
        server.Set("/f", c.reply);
        TempDir dir;
        const std::string path = dir / "UpdateFile.sob";
        WriteFile(path, "old");
        std::atomic<bool> stop{false};
        int64_t total = -2;
        int64_t last = -1;
        DownloadProgress progress{[&](int64_t t) { total = t; }, [&](int64_t r) { last = r; }};
        EXPECT_EQ(DownloadFile(server.Url("/f"), path, stop, progress, FastLimits()), c.result)
            << c.name;
        if (c.result == 1) {
            EXPECT_EQ(ReadFile(path), exe.substr(0, c.size)) << c.name;
            EXPECT_EQ(last, static_cast<int64_t>(c.size)) << c.name;
        } else {
            EXPECT_FALSE(fs::exists(path)) << c.name << ": a failed download leaves no file";
        }
        if (std::string(c.name) == "exact length") {
            EXPECT_EQ(total, static_cast<int64_t>(exe.size()));
        }
        if (std::string(c.name) == "no length, clean end") {
            EXPECT_EQ(total, -1);
        }
    }
}

TEST(DownloadFile, FailsWithoutServerOrUrl) {
    TempDir dir;
    std::atomic<bool> stop{false};
    const std::string url = "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/f";
    EXPECT_EQ(DownloadFile(url, dir / "x", stop, {}, FastLimits()), 0);
    EXPECT_EQ(DownloadFile("", dir / "x", stop, {}, FastLimits()), 0);
    EXPECT_FALSE(fs::exists(dir / "x"));
}

TEST(DownloadFile, StopAbortsARunningTransfer) {
    const std::string exe = FakeExecutable(5000);
    TestHttpServer server;
    server.Set("/f", {TestHttpServer::Answer(200, exe.substr(0, 100), exe.size()).raw, 60000});
    TempDir dir;
    std::atomic<bool> stop{false};
    std::atomic<bool> started{false};
    DownloadProgress progress{nullptr, [&](int64_t r) {
                                  if (r > 0) started = true;
                              }};
    DownloadLimits slowLimits{2000, 1, 60};
    int result = -5;
    std::thread worker(
        [&] { result = DownloadFile(server.Url("/f"), dir / "x", stop, progress, slowLimits); });
    for (int i = 0; i < 500 && !started; ++i) std::this_thread::sleep_for(10ms);
    const auto t0 = std::chrono::steady_clock::now();
    stop = true;
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
    EXPECT_TRUE(started.load());
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(fs::exists(dir / "x"));
}

TEST_F(CheckUpdateTest, NoNetworkAsksNothing) {
    options.networkUp = [] { return false; };
    EXPECT_EQ(CheckUpdate(host, options), -123);
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(host.events.empty());
}

TEST_F(CheckUpdateTest, AsksForTheVersionWithItsName) {
    Answer(R"({"status":"ok","version":"2.0.0.6","url":"x"})");
    EXPECT_EQ(CheckUpdate(host, options), 1);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("GET " + kVersionPath + " HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(requests[0].find("User-Agent: brisken\r\n"), std::string::npos);
}

TEST_F(CheckUpdateTest, FailedRequestEndsQuietly) {
    const auto t0 = std::chrono::steady_clock::now();
    options.host = "127.0.0.1:" + std::to_string(UnusedLoopbackPort());
    EXPECT_EQ(CheckUpdate(host, options), 1);
    options.host = server.host();
    server.Set(kVersionPath, {TestHttpServer::Answer(200, "", 100).raw, 20000});
    EXPECT_EQ(CheckUpdate(host, options), 1);  // whole-request time-out
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s);
    EXPECT_TRUE(host.events.empty());
    EXPECT_TRUE(launched.empty());
}

TEST_F(CheckUpdateTest, UnusableAnswersNeverUpdate) {
    const std::string url = server.Url("/f");
    const std::string lines[] = {
        R"({"status":"OK","version":"2.0.0.7","url":"u"})",
        R"({"status":"","version":"2.0.0.7","url":"u"})",
        R"({"status":"ok","version":"2.0.0.6","url":"u"})",
        R"({"status":"ok","version":"2.1","url":"u"})",
        R"({"status":"ok","version":"v2.0.0.7","url":"u"})",
        R"({"status":"ok","version":"2.0.0.7"})",
        R"({"status":"ok","version":20007,"url":"u"})",
        "garbage",
        "",
        "\n"
        R"({"status":"ok","version":"2.0.0.7","url":"u"})",
    };
    for (const auto& line : lines) {
        Answer(line);
        EXPECT_EQ(CheckUpdate(host, options), 1) << line;
    }
    // An error page is parsed like any body: not JSON, so no update.
    server.Set(kVersionPath, TestHttpServer::Answer(404, "<html>missing</html>", 20));
    EXPECT_EQ(CheckUpdate(host, options), 1);
    EXPECT_TRUE(host.events.empty());
    EXPECT_FALSE(DownloadWindowCreated());
}

TEST_F(CheckUpdateTest, NewerVersionDownloadsLaunchesScriptAndQuits) {
    Answer(R"({"status":"ok","version":"2.0.0.10","url":"http://127.0.0.1:1/new"})"
           "\r\nmore\r\n");
    host.download = [](const std::string&, const std::string& path, int) {
        WriteFile(path, FakeExecutable());
        return 1;
    };
    EXPECT_EQ(CheckUpdate(host, options), 1);
    const std::string downloadPath = Download();
    const std::vector<std::string> expected = {
        "show:0", "download:http://127.0.0.1:1/new|" + downloadPath + "|0", "clear", "quit",
        "show:1"};
    EXPECT_EQ(host.events, expected);
    const std::string script = JoinPath(options.paths.installDir, ScriptFileName("update_brisken"));
    ASSERT_EQ(launched, std::vector<std::string>{script + "|" + options.paths.installDir});
    // The script that waits for this process (pid 4242) and starts the
    // installed copy in the folder this one was started in.
    ScriptRun run;
    run.pid = 4242;
    run.self = platform::ScriptPathText(script);
    run.startDir = platform::ScriptPathText(home / "cwd");
    run.runMark = ScriptRunMark(run.self);
    EXPECT_EQ(ReadFile(script),
              platform::ScriptFileBytes(UpdateScriptText(
                  run, platform::ScriptPathText(downloadPath),
                  platform::ScriptPathText(JoinPath(options.paths.installDir, "brisken")),
                  platform::ScriptPathText(CleanStartMark(options.paths)))));
    EXPECT_FALSE(fs::exists(ScriptRunMark(script))) << "the mark is taken once seen";
}

TEST_F(CheckUpdateTest, FailedDownloadSaysSoAndGoesOn) {
    Answer(R"({"status":"ok","version":"2.0.0.7","url":"http://127.0.0.1:1/new"})");
    EXPECT_EQ(CheckUpdate(host, options), 1);
    const std::vector<std::string> expected = {
        "show:0", "download:http://127.0.0.1:1/new|" + Download() + "|0", "message:업데이트 실패",
        "show:1"};
    EXPECT_EQ(host.events, expected);
    EXPECT_TRUE(launched.empty());
    EXPECT_FALSE(fs::exists(JoinPath(options.paths.installDir, ScriptFileName("update_brisken"))));
}

TEST_F(CheckUpdateTest, EmptyUrlDoesNotStartAndOnlyOneWindowPerProcess) {
    Answer(R"({"status":"ok","version":"2.0.0.7","url":""})");
    EXPECT_EQ(CheckUpdate(host, options), 1);
    EXPECT_EQ(host.events.at(1), "download:|" + Download() + "|-1");
    EXPECT_EQ(host.events.at(2), "message:업데이트 실패");
    host.events.clear();
    Answer(R"({"status":"ok","version":"2.0.0.8","url":"http://127.0.0.1:1/new"})");
    EXPECT_EQ(CheckUpdate(host, options), 1);
    EXPECT_TRUE(host.events.empty());
}

// The program ends only once its script is written and launched; otherwise
// the update failed and the start goes on with the installed version.
TEST_F(CheckUpdateTest, UpdateScriptGoesToAFolderThatTakesItOrTheUpdateFails) {
    const struct Case {
        const char* name;
        std::vector<std::string> refusedFolders;
        bool launchFails;
        std::string scriptFolder;  // "" = a failed update
        bool silent = false;       // the interpreter starts, the script never begins
    } cases[] = {
        {"current directory takes it", {}, false, "QAVEX"},
        {"current directory refuses", {"cwd"}, false, "QAVEX"},
        {"install folder refuses too", {"cwd", "QAVEX"}, false, "tmp"},
        {"no folder takes it", {"cwd", "QAVEX", "tmp"}, false, ""},
        {"launch fails", {}, true, ""},
        {"script never begins", {}, false, "", true},
    };
    for (const auto& c : cases) {
        ResetUpdateState();
        host.events.clear();
        launched.clear();
        fs::remove(JoinPath(options.paths.installDir, "brisken.update"));
        for (const char* dir : {"cwd", "QAVEX", "tmp"})
            fs::remove(JoinPath(home / dir, ScriptFileName("update_brisken")));
        Answer(R"({"status":"ok","version":"2.0.0.7","url":"http://127.0.0.1:1/new"})");
        host.download = [](const std::string&, const std::string& path, int) {
            WriteFile(path, FakeExecutable());
            return 1;
        };
        options.folderWritable = [&](const std::string& dir) {
            for (const auto& f : c.refusedFolders)
                if (fs::equivalent(dir, home / f)) return false;
            return true;
        };
        const auto launch = options.launch;
        if (c.launchFails)
            options.launch = [](const std::string&, const std::string&) { return -1; };
        // A stand-in interpreter that starts and does nothing: ended by the program.
        int silentPid = -1;
        if (c.silent)
            options.launch = [&](const std::string&, const std::string&) {
                return silentPid = StartProcess(SilentProgram(), SilentArgs(), home.path(), {});
            };
        options.endScript = [&](int pid) {
            EXPECT_EQ(pid, silentPid) << c.name;
            EndProcess(pid);
            WaitChild(pid, 10s);
        };
        EXPECT_EQ(CheckUpdate(host, options), 1) << c.name;
        options.launch = launch;
        const std::string last = c.scriptFolder.empty() ? "message:업데이트 실패" : "quit";
        EXPECT_EQ(host.events.at(host.events.size() - 2), last) << c.name;
        EXPECT_EQ(host.events.back(), "show:1") << c.name;
        if (c.silent) EXPECT_FALSE(ProcessAlive(silentPid)) << c.name;
        if (c.scriptFolder.empty()) {
            EXPECT_FALSE(fs::exists(Download())) << c.name;
            for (const char* dir : {"cwd", "QAVEX", "tmp"})
                EXPECT_FALSE(fs::exists(JoinPath(home / dir, ScriptFileName("update_brisken"))))
                    << c.name;
        } else {
            const std::string dir =
                c.scriptFolder == "QAVEX" ? options.paths.installDir : home / c.scriptFolder;
            EXPECT_EQ(launched,
                      std::vector<std::string>{JoinPath(dir, ScriptFileName("update_brisken")) +
                                               "|" + dir})
                << c.name;
        }
    }
}

// A version whose install was tried is not downloaded again at the next start
// (its replace may have failed and the old program been started again), until
// the server names another version or a day has passed.
TEST_F(CheckUpdateTest, TriedVersionIsNotDownloadedAgainForADay) {
    host.download = [](const std::string&, const std::string& path, int) {
        WriteFile(path, FakeExecutable());
        return 1;
    };
    const struct Step {
        const char* name;
        const char* version;
        int64_t later;
        bool downloads;
    } steps[] = {
        {"first offer", "2.0.0.7", 0, true},
        {"next start, same version", "2.0.0.7", 60, false},
        {"clock set back", "2.0.0.7", -3600, true},
        {"another version", "2.0.0.8", 120, true},
        {"same again", "2.0.0.8", 180, false},
        {"a day later", "2.0.0.8", 120 + 24 * 3600, true},
        {"a download that fails its checks", "2.0.0.9", 200 + 24 * 3600, true},
        {"is not fetched again at the next start", "2.0.0.9", 260 + 24 * 3600, false},
    };
    const int64_t start = now;
    for (const auto& step : steps) {
        ResetUpdateState();
        host.events.clear();
        now = start + step.later;
        if (std::string(step.version) == "2.0.0.9")
            host.download = [](const std::string&, const std::string&, int) { return 0; };
        Answer(std::string(R"({"status":"ok","version":")") + step.version +
               R"(","url":"http://127.0.0.1:1/new"})");
        EXPECT_EQ(CheckUpdate(host, options), 1) << step.name;
        EXPECT_EQ(!host.events.empty(), step.downloads) << step.name;
    }
}

// The staged rollout: an installation takes a version only when its drawn
// number (kept across starts) is below the answer's share; no share means
// every shop; a share that is not 1-100 is no answer.
TEST_F(CheckUpdateTest, RolloutTakesTheVersionBelowTheShare) {
    const std::string drawn = JoinPath(options.paths.installDir, "brisken.rollout");
    const struct Row {
        const char* share;  // the answer's field, "" = none
        const char* number;
        bool takes;
    } rows[] = {
        {"", "99", true},
        {",\"rollout\":100", "99", true},
        {",\"rollout\":5", "4", true},
        {",\"rollout\":5", "5", false},
        {",\"rollout\":1", "0", true},
        {",\"rollout\":50", "73", false},
        {",\"rollout\":0", "0", false},
        {",\"rollout\":101", "0", false},
        {",\"rollout\":\"50\"", "0", false},
        {",\"rollout\":5.5", "0", false},
    };
    for (const auto& row : rows) {
        ResetUpdateState();
        host.events.clear();
        fs::remove(JoinPath(options.paths.installDir, "brisken.update"));
        WriteFile(drawn, std::string(row.number) + "\n");
        Answer(std::string(R"({"status":"ok","version":"2.0.0.7","url":"http://127.0.0.1:1/n")") +
               row.share + "}");
        EXPECT_EQ(CheckUpdate(host, options), 1);
        EXPECT_EQ(!host.events.empty(), row.takes) << row.share << " " << row.number;
    }
    // Drawn once, then kept: the same number at every start.
    fs::remove(drawn);
    const int first = RolloutNumber(options.paths);
    EXPECT_GE(first, 0);
    EXPECT_LE(first, 99);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(RolloutNumber(options.paths), first);
    EXPECT_EQ(ReadFile(drawn), std::to_string(first) + "\n");
}

// Both requests follow the system's proxy settings: behind a proxy the
// version check and the download alike go through it.
TEST_F(CheckUpdateTest, VersionRequestAndDownloadUseTheSameProxy) {
    const std::string origin = "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort());
    TestHttpServer proxy;
    proxy.Set(
        origin + kVersionPath,
        TestHttpServer::Ok(R"({"status":"ok","version":"2.0.0.7","url":")" + origin + "/new\"}"));
    proxy.Set(origin + "/new", TestHttpServer::Ok(FakeExecutable()));
    ScopedProxy scoped(proxy.host());
    options.host = origin;
    host.download = [](const std::string& url, const std::string& path, int) {
        std::atomic<bool> stop{false};
        return DownloadFile(url, path, stop, {}, FastLimits());
    };
    EXPECT_EQ(CheckUpdate(host, options), 1);
    EXPECT_EQ(host.events.at(2), "clear") << "downloaded through the proxy";
    EXPECT_EQ(proxy.Requests().size(), 2u);
}

TEST_F(CheckUpdateTest, RelocatingProcessDoesNotUpdateItself) {
    Answer(R"({"status":"ok","version":"2.0.0.7","url":"http://127.0.0.1:1/new"})");
    MarkRelocationQueued();
    EXPECT_EQ(CheckUpdate(host, options), 1);
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(host.events.empty());
}

}  // namespace
