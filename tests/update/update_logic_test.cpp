#include <gtest/gtest.h>

#include "update/server_url.h"
#include "update/update_answer.h"

namespace {

TEST(VersionNumber, ReadsDottedVersionsAsOneNumber) {
    struct Case {
        const char* text;
        double number;
        bool updatesOver2006;
    } cases[] = {
        {"2.0.0.7", 2007, true},   {"2.0.0.6", 2006, false}, {"2.0.0.10", 20010, true},
        {"2.0.1.0", 2010, true},   {"2.1", 21, false},       {"3", 3, false},
        {"v2.0.0.7", 0, false},    {"", 0, false},           {"  2.0.0.8", 2008, true},
        {"-2.0.0.7", -2007, false}, {"2.0.0.7b", 2007, true}, {"0x2007", 0, false},
        {"inf", 0, false},         {"2e3", 2000, false},     {"2.0.0.7e", 2007, true},
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
        {R"({"status":"ok","version":"2.0.0.7","url":"http://127.0.0.1/f"})" "\n", true, "ok",
         "2.0.0.7", "http://127.0.0.1/f"},
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
