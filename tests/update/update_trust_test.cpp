#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>

#include "tests/support/test_keys.h"
#include "tests/update/check_update_fixture.h"

// Signed updates and HTTPS: the check with an update key, and the version
// request and download over TLS.

namespace {

namespace fs = std::filesystem;

TEST_F(CheckUpdateTest, WithAKeyOnlyAGoodSignatureInstalls) {
    const TestKeyPair key = MakeTestKeyPair();
    const TestKeyPair other = MakeTestKeyPair();
    const std::string exe = FakeExecutable(5000);
    std::string changed = exe;
    changed[4000] ^= 1;
    const std::string good = ReleaseSig(key.privateKey, "2.0.0.7", exe);
    const std::string der = SignDer(key.privateKey, "brisken 2.0.0.7\n" + exe);
    const auto sig = [](const std::string& value) { return R"(,"sig":")" + value + "\""; };
    struct Case {
        const char* name;
        std::string key;
        std::string file;
        std::string sigMember;
        bool installs;
    } cases[] = {
        {"good", key.publicPem, exe, sig(good), true},
        {"wrong key", key.publicPem, exe, sig(ReleaseSig(other.privateKey, "2.0.0.7", exe)), false},
        {"one byte of the file changed", key.publicPem, changed, sig(good), false},
        {"signed for another version", key.publicPem, exe,
         sig(ReleaseSig(key.privateKey, "2.0.0.6", exe)), false},
        {"sig missing", key.publicPem, exe, "", false},
        {"not base64", key.publicPem, exe, sig("*" + good), false},
        {"raw r||s, not DER", key.publicPem, exe, sig(Base64(std::string(64, '\x5a'))), false},
        {"DER with a byte after it", key.publicPem, exe, sig(Base64(der + '\0')), false},
        {"empty file, signed as such", key.publicPem, "",
         sig(ReleaseSig(key.privateKey, "2.0.0.7", "")), false},
        {"key that is no key", "-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n", exe,
         sig(good), false},
        {"no key: sig not looked at", "", exe, sig("*"), true},
    };
    const std::string downloadPath = home / "QAVEX/UpdateFile.sob";
    for (const auto& c : cases) {
        ResetUpdateState();
        host.events.clear();
        launched.clear();
        fs::remove(home / "QAVEX/brisken.update");  // each case a version not tried before
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
    const TestCaTrust trust;
    options.host = tls.host();
    options.caFile = trust.caFile();
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
        bool trustTestCa;
    } cases[] = {
        // Untrusted first: the trust a process found at its first check may stay.
        {"test CA not in the system store", "server.pem", "server-key.pem", false},
        {"stranger's certificate", "stranger.pem", "stranger-key.pem", true},
    };
    for (const auto& c : cases) {
        TestHttpServer tls({TlsTestFile(c.cert), TlsTestFile(c.key)});
        tls.Set("/new", TestHttpServer::Ok(FakeExecutable(5000)));
        tls.Set(kVersionPath,
                TestHttpServer::Ok(R"({"status":"ok","version":"2.0.0.7","url":"u"})"));
        std::optional<TestCaTrust> trust;
        if (c.trustTestCa) trust.emplace();
        const std::string caFile = trust ? trust->caFile() : "";
        options.host = tls.host();
        options.caFile = caFile;
        EXPECT_EQ(CheckUpdate(host, options), 1) << c.name;
        EXPECT_TRUE(host.events.empty()) << c.name;

        TempDir dir;
        std::atomic<bool> stop{false};
        EXPECT_EQ(DownloadFile(tls.Url("/new"), dir / "x", stop, {}, FastLimits(), caFile), 0)
            << c.name;
        EXPECT_FALSE(fs::exists(dir / "x")) << c.name;
        EXPECT_TRUE(tls.Requests().empty())
            << c.name << ": nothing was asked over the untrusted link";
    }
}

}  // namespace
