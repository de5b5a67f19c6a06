#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>

#include "platform/launcher.h"
#include "tests/support/temp_dir.h"
#include "update/scripts.h"
#include "update/server_url.h"
#include "update/update_answer.h"

namespace {

TEST(VersionNumber, ReadsDottedVersionsAsOneNumber) {
    struct Case {
        const char* text;
        double number;
        bool updatesOver2006;
    } cases[] = {
        {"2.0.0.7", 2007, true},    {"2.0.0.6", 2006, false}, {"2.0.0.10", 20010, true},
        {"2.0.1.0", 2010, true},    {"2.1", 21, false},       {"3", 3, false},
        {"v2.0.0.7", 0, false},     {"", 0, false},           {"  2.0.0.8", 2008, true},
        {"-2.0.0.7", -2007, false}, {"2.0.0.7b", 2007, true}, {"0x2007", 0, false},
        {"inf", 0, false},          {"2e3", 2000, false},     {"2.0.0.7e", 2007, true},
    };
    const double own = VersionNumber("2.0.0.6");
    ASSERT_EQ(own, 2006);
    for (const auto& c : cases) {
        EXPECT_EQ(VersionNumber(c.text), c.number) << c.text;
        EXPECT_EQ(VersionNumber(c.text) > own, c.updatesOver2006) << c.text;
    }
}

TEST(VersionNumber, LongVersionTextIsReadWhole) {
    EXPECT_EQ(VersionNumber(std::string(40, '9')), 1e40 - 1);
}

TEST(FirstAnswerLine, TakesFirstLineWithoutCarriageReturns) {
    struct Case {
        std::string body, line;
    } cases[] = {
        {"{\"a\":1}\r\nsecond\r\n", "{\"a\":1}\n"},
        {"one line without end", "one line without end"},
        {"", ""},
        {"\r\r\nx", "\n"},
        {"a\rb\nc", "ab\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(FirstAnswerLine(c.body), c.line) << c.body;
    EXPECT_EQ(FirstAnswerLine(std::string(5000, 'x')).size(), kMaxAnswerLine);
}

TEST(ParseUpdateAnswer, AcceptsOnlyObjectsWithThreeStrings) {
    struct Case {
        std::string line;
        bool ok;
        std::string status, version, url;
    } cases[] = {
        {R"({"status":"ok","version":"2.0.0.7","url":"http://127.0.0.1/f"})"
         "\n",
         true, "ok", "2.0.0.7", "http://127.0.0.1/f"},
        {R"({"status":"OK","version":"2.0.0.7","url":"u","extra":5})", true, "OK", "2.0.0.7", "u"},
        {R"({"status":"ok","version":"2.0.0.7","url":""})", true, "ok", "2.0.0.7", ""},
        {R"({"status":"ok","version":"1","url":"a","url":"b"})", true, "ok", "1", "a"},
        {R"({"status":"ok","version":"2.0.0.7"})", false, "", "", ""},
        {R"({"status":"ok","version":2007,"url":"u"})", false, "", "", ""},
        {R"({"Status":"ok","version":"2.0.0.7","url":"u"})", false, "", "", ""},
        {R"({"status":null,"version":"2.0.0.7","url":"u"})", false, "", "", ""},
        {R"(["ok","2.0.0.7","u"])", false, "", "", ""},
        {"<html>502 Bad Gateway</html>", false, "", "", ""},
        {R"({"status":"ok","version":"2.0.0.7","url":"u"} trailing)", false, "", "", ""},
        {R"({"status":"ok","version":"2.0.0.7",)", false, "", "", ""},
        {"", false, "", "", ""},
    };
    for (const auto& c : cases) {
        const auto answer = ParseUpdateAnswer(c.line);
        ASSERT_EQ(answer.has_value(), c.ok) << c.line;
        if (!answer) continue;
        EXPECT_EQ(answer->status, c.status);
        EXPECT_EQ(answer->version, c.version);
        EXPECT_EQ(answer->url, c.url);
    }
}

TEST(ParseUpdateAnswer, TakesAStringSigAndIgnoresAnyOther) {
    const std::string head = R"({"status":"ok","version":"2.0.0.7","url":"u")";
    EXPECT_EQ(ParseUpdateAnswer(head + R"(,"sig":"MEUC+/=="})")->sig, "MEUC+/==");
    EXPECT_EQ(ParseUpdateAnswer(head + R"(,"sig":7})")->sig, "");
    EXPECT_EQ(ParseUpdateAnswer(head + "}")->sig, "");
}

TEST(ServerUrl, PlainHostIsHttpAndSchemesAreKept) {
    struct Case {
        const char* host;
        const char* url;
    } cases[] = {
        {"127.0.0.1:18080", "http://127.0.0.1:18080/p"},
        {"http://127.0.0.1:18080", "http://127.0.0.1:18080/p"},
        {"https://127.0.0.1:8443", "https://127.0.0.1:8443/p"},
        {"HTTPS://localhost/", "https://localhost/p"},
    };
    for (const auto& c : cases) EXPECT_EQ(ServerUrl(c.host, "/p"), c.url) << c.host;
    EXPECT_EQ(HelpPageUrl("https://localhost:8443", 3),
              "https://localhost:8443/brisken/help3.html");
}

}  // namespace

namespace {

// No script calls a system command by its bare name: cmd looks in the current
// folder before PATH.
TEST(Scripts, NameEverySystemCommandByItsFullPath) {
    ScriptRun run;
    run.pid = 7;
    run.self = JoinPath("D", ScriptFileName("s"));
    run.runMark = ScriptRunMark(run.self);
    const std::string texts[] = {
        UpdateScriptText(run, JoinPath("D", "dl"), JoinPath("D", "x"), JoinPath("D", "m")),
        KillfileScriptText(run, "D", "x", "x.ini", JoinPath("I", "x")),
        RunexternScriptText(run, JoinPath("I", "x"), JoinPath("D", "x")),
        KillfileallScriptText(run, "D", "I", "x", "x.ini")};
    for (const std::string& text : texts) {
        for (const char* name : {"ping", "PING", "tasklist", "taskkill", "find", "waitfor", "cmd",
                                 "rm", "cp", "mv", "chmod", "sleep"}) {
            const std::string word = std::string(name) + " ";
            for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
                EXPECT_TRUE(at > 0 && (text[at - 1] == '/' || text[at - 1] == '\\'))
                    << name << " by its bare name in:\n"
                    << text;
        }
    }
}

#ifdef MAKE_RELEASE_PATH
// make-release takes a version only where the program itself would rank it
// above the one the shops run (its own VersionNumber decides the table).
TEST(MakeRelease, TakesOnlyAVersionTheProgramRanksAbove) {
    TempDir tmp;
    const std::string key = tmp / "k.pem";
    ASSERT_EQ(std::system(
                  ("openssl ecparam -name prime256v1 -genkey -noout -out '" + key + "' 2>/dev/null")
                      .c_str()),
              0);
    const std::string answer = tmp / "brisken_ver.php";
    WriteFile(answer, "{\"status\":\"ok\",\"version\":\"2.0.0.10\",\"url\":\"u\",\"sig\":\"s\"}\n");
    const std::pair<std::string, std::string> rows[] = {
        {"2.0.0.6", "2.0.0.7"},
        {"2.0.0.9", "2.0.0.10"},
        {"2.0.0.10", "2.0.1.0"},
        {"2.0.1.0", "2.0.0.10"},
        {"2.0.0.7", "2.0.0.7"},
        {"2.0.0.8", "2.0.0.7"},
        {"2.0.10.99", "2.0.11.10"},
        {"9.99.99.999", "10.0.0.0"},
        {answer, "2.0.1.0"},
        {answer, "2.0.0.11"},
        {"65535.65535.65535.65534", "65535.65535.65535.65535"},
    };
    for (const auto& [after, version] : rows) {
        const std::string command = "sh '" MAKE_RELEASE_PATH "' --platform linux --version " +
                                    version + " --after '" + after +
                                    "' --host 127.0.0.1:8 --key '" + key + "' --out '" +
                                    (tmp / "out") + "' --dry-run >/dev/null 2>&1";
        const std::string current = after == answer ? "2.0.0.10" : after;
        EXPECT_EQ(std::system(command.c_str()) == 0,
                  VersionNumber(version) > VersionNumber(current))
            << version << " after " << current;
    }
}
#endif

}  // namespace

namespace {

// A script never goes to a network share or a drive that is not a fixed disk.
TEST(Scripts, FolderOnANetworkOrMissingDriveTakesNoScript) {
    TempDir tmp;
    EXPECT_TRUE(platform::ScriptFolderUsable(tmp.path()));
#ifdef _WIN32
    EXPECT_FALSE(platform::ScriptFolderUsable("\\\\server\\share\\QAVEX"));
    EXPECT_FALSE(platform::ScriptFolderUsable("\\\\?\\UNC\\server\\share"));
    EXPECT_FALSE(platform::ScriptFolderUsable("B:\\QAVEX"));  // no such drive
#else
    EXPECT_FALSE(platform::ScriptFolderUsable(tmp / "missing"));
#endif
}

}  // namespace
