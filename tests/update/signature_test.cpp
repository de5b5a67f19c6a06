#include "platform/signature.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/temp_dir.h"
#include "tests/support/test_keys.h"
#include "tests/update/fake_update_host.h"
#include "tests/update/process_util.h"
#include "update/release_signature.h"

namespace {

TEST(DecodeBase64, TakesPaddedGroupsAndRefusesEverythingElse) {
    struct Case {
        const char* text;
        std::optional<std::string> bytes;
    } cases[] = {
        {"", ""},
        {"YQ==", "a"},
        {"YWI=", "ab"},
        {"YWJj", "abc"},
        {"YWJj\nYWJj\r\n", "abcabc"},
        {"+/8=", "\xfb\xff"},
        {"YQ", std::nullopt},         // unpadded
        {"YQ===", std::nullopt},      // too much padding
        {"YW=j", std::nullopt},       // padding inside
        {"YQ==YQ==", std::nullopt},   // data after the end
        {"YWJj-ZGVm", std::nullopt},  // not of the alphabet
        {"YWJj!", std::nullopt},
        {"-_8=", std::nullopt},  // the URL alphabet is not this one
    };
    for (const auto& c : cases) EXPECT_EQ(platform::DecodeBase64(c.text), c.bytes) << c.text;
}

TEST(SigningScript, ItsOutputVerifies) {
    TempDir dir;
    const TestKeyPair key = MakeTestKeyPair();
    const std::string file = FakeExecutable(100000);
    ASSERT_TRUE(WriteFile(dir / "key.pem", key.privatePem));
    ASSERT_TRUE(WriteFile(dir / "brisken", file));
    const std::string command = std::string("'") + TALMIRA_SOURCE_DIR +
                                "/tools/sign-release.sh' key.pem 2.0.0.7 brisken >sig";
    const int pid = StartProcess("/bin/sh", {"-c", command}, dir.path(), {"PATH=/usr/bin:/bin"});
    ASSERT_EQ(WaitChild(pid, std::chrono::seconds(20)), 0);
    const std::string out = ReadFile(dir / "sig");
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.find('\n'), out.size() - 1) << "one line";
    const std::string sig = out.substr(0, out.size() - 1);
    EXPECT_TRUE(ReleaseSignatureValid(dir / "brisken", "2.0.0.7", sig, key.publicPem));
    EXPECT_FALSE(ReleaseSignatureValid(dir / "brisken", "2.0.0.8", sig, key.publicPem));
}

}  // namespace
