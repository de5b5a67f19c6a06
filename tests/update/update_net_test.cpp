#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/http_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_keys.h"
#include "tests/update/fake_update_host.h"
#include "update/download.h"
#include "update/update_state.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kVersionPath = "/brisken/brisken_ver.php?app_name=Brisken";

DownloadLimits FastLimits() { return DownloadLimits{2000, 1024, 1}; }

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
        {"more than announced", TestHttpServer::Answer(200, exe + "tail", exe.size()), 1, exe.size()},
        {"no length, clean end", TestHttpServer::Answer(200, exe, std::nullopt), 1, exe.size()},
        {"length 0, empty body", TestHttpServer::Answer(200, "", 0), 0, 0},
        {"error status", TestHttpServer::Answer(404, exe, exe.size()), 0, 0},
        {"server error", TestHttpServer::Answer(500, exe, exe.size()), 0, 0},
        {"not an executable", TestHttpServer::Ok(std::string(5000, 'M')), 0, 0},
        {"stalls", TestHttpServer::Reply{TestHttpServer::Answer(200, exe.substr(0, 10), exe.size()).raw, 20000}, 0, 0},
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
        EXPECT_EQ(DownloadFile(server.Url("/f"), path, stop, progress, FastLimits()), c.result) << c.name;
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
    std::thread worker([&] { result = DownloadFile(server.Url("/f"), dir / "x", stop, progress, slowLimits); });
    for (int i = 0; i < 500 && !started; ++i) std::this_thread::sleep_for(10ms);
    const auto t0 = std::chrono::steady_clock::now();
    stop = true;
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
    EXPECT_TRUE(started.load());
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(fs::exists(dir / "x"));
}

class CheckUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetUpdateState();
        fs::create_directory(home / "QAVEX");
        fs::create_directory(home / "cwd");
        options.paths = DerivePathValues(home / "start/brisken", "", home.path());
        options.host = server.host();
        options.workDir = home / "cwd";
        options.pid = 4242;
        options.networkUp = [] { return true; };
        options.launch = [this](const std::string& script, const std::string& dir) {
            launched.push_back(script + "|" + dir);
            return 1;
        };
        options.versionConnectMs = 2000;
        options.versionTotalMs = 2000;
        options.updateKey = "";  // a build without a key, unless a test gives one
    }
    void TearDown() override { ResetUpdateState(); }
    void Answer(const std::string& line) { server.Set(kVersionPath, TestHttpServer::Ok(line)); }

    TempDir home;
    TestHttpServer server;
    UpdateOptions options;
    FakeUpdateHost host;
    std::vector<std::string> launched;
};

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
        "\n" R"({"status":"ok","version":"2.0.0.7","url":"u"})",
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
    Answer(R"({"status":"ok","version":"2.0.0.10","url":"http://127.0.0.1:1/new"})" "\r\nmore\r\n");
    host.download = [](const std::string&, const std::string& path, int) {
        WriteFile(path, FakeExecutable());
        return 1;
    };
    EXPECT_EQ(CheckUpdate(host, options), 1);
    const std::string downloadPath = home / "QAVEX/UpdateFile.sob";
    const std::vector<std::string> expected = {
        "show:0", "download:http://127.0.0.1:1/new|" + downloadPath + "|0", "clear", "quit", "show:1"};
    EXPECT_EQ(host.events, expected);
    const std::string script = home / "cwd/update_brisken.sh";
    ASSERT_EQ(launched, std::vector<std::string>{script + "|" + (home / "cwd")});
    const std::string text = ReadFile(script);
    EXPECT_NE(text.find("pid=4242\n"), std::string::npos);
    EXPECT_NE(text.find("'" + (home / "QAVEX/brisken") + "' </dev/null"), std::string::npos);
}

TEST_F(CheckUpdateTest, FailedDownloadSaysSoAndGoesOn) {
    Answer(R"({"status":"ok","version":"2.0.0.7","url":"http://127.0.0.1:1/new"})");
    EXPECT_EQ(CheckUpdate(host, options), 1);
    const std::vector<std::string> expected = {
        "show:0", "download:http://127.0.0.1:1/new|" + (home / "QAVEX/UpdateFile.sob") + "|0",
        "message:업데이트 실패", "show:1"};
    EXPECT_EQ(host.events, expected);
    EXPECT_TRUE(launched.empty());
    EXPECT_FALSE(fs::exists(home / "cwd/update_brisken.sh"));
}

TEST_F(CheckUpdateTest, EmptyUrlDoesNotStartAndOnlyOneWindowPerProcess) {
    Answer(R"({"status":"ok","version":"2.0.0.7","url":""})");
    EXPECT_EQ(CheckUpdate(host, options), 1);
    EXPECT_EQ(host.events.at(1), "download:|" + (home / "QAVEX/UpdateFile.sob") + "|-1");
    EXPECT_EQ(host.events.at(2), "message:업데이트 실패");
    host.events.clear();
    Answer(R"({"status":"ok","version":"2.0.0.8","url":"http://127.0.0.1:1/new"})");
    EXPECT_EQ(CheckUpdate(host, options), 1);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(CheckUpdateTest, QuitFollowsEvenWhenTheScriptCannotBeWritten) {
    Answer(R"({"status":"ok","version":"2.0.0.7","url":"http://127.0.0.1:1/new"})");
    options.workDir = home / "no such folder";
    host.download = [](const std::string&, const std::string&, int) { return 1; };
    EXPECT_EQ(CheckUpdate(host, options), 1);
    EXPECT_TRUE(launched.empty());
    EXPECT_EQ(host.events.at(2), "clear");
    EXPECT_EQ(host.events.at(3), "quit");
}

TEST_F(CheckUpdateTest, RelocatingProcessDoesNotUpdateItself) {
    Answer(R"({"status":"ok","version":"2.0.0.7","url":"http://127.0.0.1:1/new"})");
    MarkRelocationQueued();
    EXPECT_EQ(CheckUpdate(host, options), 1);
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(host.events.empty());
}

TEST_F(CheckUpdateTest, WithAKeyOnlyAGoodSignatureInstalls) {
    const TestKeyPair key = MakeTestKeyPair();
    const TestKeyPair other = MakeTestKeyPair();
    const std::string exe = FakeExecutable(5000);
    std::string changed = exe;
    changed[4000] ^= 1;
    const std::string good = ReleaseSig(key.privatePem, "2.0.0.7", exe);
    const std::string der = SignDer(key.privatePem, "brisken 2.0.0.7\n" + exe);
    const auto sig = [](const std::string& value) { return R"(,"sig":")" + value + "\""; };
    struct Case {
        const char* name;
        std::string key;
        std::string file;
        std::string sigMember;
        bool installs;
    } cases[] = {
        {"good", key.publicPem, exe, sig(good), true},
        {"wrong key", key.publicPem, exe, sig(ReleaseSig(other.privatePem, "2.0.0.7", exe)), false},
        {"one byte of the file changed", key.publicPem, changed, sig(good), false},
        {"signed for another version", key.publicPem, exe,
         sig(ReleaseSig(key.privatePem, "2.0.0.6", exe)), false},
        {"sig missing", key.publicPem, exe, "", false},
        {"not base64", key.publicPem, exe, sig("*" + good), false},
        {"raw r||s, not DER", key.publicPem, exe, sig(Base64(std::string(64, '\x5a'))), false},
        {"DER with a byte after it", key.publicPem, exe, sig(Base64(der + '\0')), false},
        {"empty file, signed as such", key.publicPem, "",
         sig(ReleaseSig(key.privatePem, "2.0.0.7", "")), false},
        {"key that is no key", "-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n", exe,
         sig(good), false},
        {"no key: sig not looked at", "", exe, sig("*"), true},
    };
    const std::string downloadPath = home / "QAVEX/UpdateFile.sob";
    for (const auto& c : cases) {
        ResetUpdateState();
        host.events.clear();
        launched.clear();
        options.updateKey = c.key;
        Answer(R"({"status":"ok","version":"2.0.0.7","url":"http://127.0.0.1:1/new")" +
               c.sigMember + "}");
        host.download = [&c](const std::string&, const std::string& path, int) {
            WriteFile(path, c.file);
            return 1;
        };
        EXPECT_EQ(CheckUpdate(host, options), 1) << c.name;
        EXPECT_EQ(launched.size(), c.installs ? 1u : 0u) << c.name;
        EXPECT_EQ(fs::exists(downloadPath), c.installs) << c.name;
        const std::string last = c.installs ? "quit" : "message:업데이트 실패";
        ASSERT_GE(host.events.size(), 2u) << c.name;
        EXPECT_EQ(host.events[host.events.size() - 2], last) << c.name;
        EXPECT_EQ(host.events.back(), "show:1") << c.name;
    }
}

TEST_F(CheckUpdateTest, VersionRequestAndDownloadOverTls) {
    TestHttpServer tls({TlsTestFile("server.pem"), TlsTestFile("server-key.pem")});
    const std::string exe = FakeExecutable(200000);
    tls.Set("/new", TestHttpServer::Ok(exe));
    tls.Set(kVersionPath, TestHttpServer::Ok(R"({"status":"ok","version":"2.0.0.7","url":")" +
                                             tls.Url("/new") + "\"}"));
    options.host = tls.host();
    options.caFile = TlsTestFile("test-ca.pem");
    host.download = [this](const std::string& url, const std::string& path, int) {
        std::atomic<bool> stop{false};
        return DownloadFile(url, path, stop, {}, FastLimits(), options.caFile);
    };
    EXPECT_EQ(CheckUpdate(host, options), 1);
    EXPECT_EQ(tls.Requests().size(), 2u);
    EXPECT_EQ(ReadFile(home / "QAVEX/UpdateFile.sob"), exe);
    EXPECT_EQ(launched.size(), 1u);
}

TEST_F(CheckUpdateTest, UntrustedCertificateFailsLikeAnUnreachableServer) {
    struct Case {
        const char* name;
        const char* cert;
        const char* key;
        std::string caFile;
    } cases[] = {
        {"stranger's certificate", "stranger.pem", "stranger-key.pem", TlsTestFile("test-ca.pem")},
        {"test CA not in the system store", "server.pem", "server-key.pem", ""},
    };
    for (const auto& c : cases) {
        TestHttpServer tls({TlsTestFile(c.cert), TlsTestFile(c.key)});
        tls.Set("/new", TestHttpServer::Ok(FakeExecutable(5000)));
        tls.Set(kVersionPath,
                TestHttpServer::Ok(R"({"status":"ok","version":"2.0.0.7","url":"u"})"));
        options.host = tls.host();
        options.caFile = c.caFile;
        EXPECT_EQ(CheckUpdate(host, options), 1) << c.name;
        EXPECT_TRUE(host.events.empty()) << c.name;

        TempDir dir;
        std::atomic<bool> stop{false};
        EXPECT_EQ(DownloadFile(tls.Url("/new"), dir / "x", stop, {}, FastLimits(), c.caFile), 0)
            << c.name;
        EXPECT_FALSE(fs::exists(dir / "x")) << c.name;
        EXPECT_TRUE(tls.Requests().empty())
            << c.name << ": nothing was asked over the untrusted link";
    }
}

}  // namespace
