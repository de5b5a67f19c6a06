#pragma once
#include <optional>
#include <string>

// The update server's answer and the version numbers it is compared by.

// A version text as a number: every '.' deleted, then the longest decimal
// number at the start (leading white space, an optional sign, digits, an
// optional exponent); 0 when there is none. "2.0.0.10" -> 20010, "2.1" -> 21.
double VersionNumber(const std::string& text);

// The first line of an answer body as the check reads it: the bytes up to and
// including the first LF, every CR dropped, at most kMaxAnswerLine bytes.
constexpr size_t kMaxAnswerLine = 1023;
std::string FirstAnswerLine(const std::string& body);

struct UpdateAnswer {
    std::string status;   // "ok" marks a usable answer
    std::string version;  // dotted numbers
    std::string url;      // where the new executable is
    std::string sig;      // base64 signature of the release; "" when there is none
    // The share of installations (percent) that take this version now; the
    // signature does not cover it, so a share is raised without signing again.
    int rollout = 100;
};

// Parses the first answer line: a JSON object whose "status", "version" and
// "url" are strings (the first of repeated keys counts). Anything else - not
// JSON, not an object, a key missing or not a string - is no answer. "sig" is
// optional (a value that is not a string counts as none); other keys are ignored.
// "rollout" is optional (missing: 100); one that is there must be a whole number
// from 1 to 100, or the answer is none (a share mistyped never reaches everyone).
std::optional<UpdateAnswer> ParseUpdateAnswer(const std::string& line);
