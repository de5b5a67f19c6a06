// The update server's answer: its first line, the JSON in it, the version number.
#include <cmath>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "update/update_answer.h"

void FuzzUpdateAnswer(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    const std::string line = FirstAnswerLine(body);

    // The start of the body with its CRs dropped, up to its first LF or the
    // length limit, whichever comes first.
    std::string plain;
    for (char c : body)
        if (c != '\r') plain += c;
    const size_t lf = line.find('\n');
    FUZZ_CHECK(line.size() <= kMaxAnswerLine);
    FUZZ_CHECK(line.find('\r') == std::string::npos);
    FUZZ_CHECK(plain.compare(0, line.size(), line) == 0);
    FUZZ_CHECK(lf == std::string::npos ? line.size() == std::min(plain.size(), kMaxAnswerLine)
                                       : lf + 1 == line.size());

    FUZZ_CHECK(!std::isnan(VersionNumber(body)));
    const std::optional<UpdateAnswer> answer = ParseUpdateAnswer(line);
    if (!answer) return;
    FUZZ_CHECK(!std::isnan(VersionNumber(answer->version)));
    // The same line always gives the same answer.
    const std::optional<UpdateAnswer> again = ParseUpdateAnswer(line);
    FUZZ_CHECK(again && again->status == answer->status && again->version == answer->version &&
               again->url == answer->url && again->sig == answer->sig);
}

TALMIRA_FUZZ_TARGET(FuzzUpdateAnswer)
