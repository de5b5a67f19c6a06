#include "update/update_answer.h"

#include <rapidjson/document.h>

#include <cctype>
#include <cstdlib>

double VersionNumber(const std::string& text) {
    std::string s;
    s.reserve(text.size());
    for (char c : text)
        if (c != '.') s += c;

    // Only a plain decimal prefix counts: no hexadecimal, "inf" or "nan" that
    // strtod would also take.
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    const size_t start = i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const size_t digits = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    if (i == digits) return 0.0;
    size_t end = i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        const size_t expDigits = j;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
        if (j > expDigits) end = j;
    }
    const std::string number = s.substr(start, end - start);
    return std::strtod(number.c_str(), nullptr);
}

std::string FirstAnswerLine(const std::string& body) {
    std::string line;
    for (char c : body) {
        if (line.size() >= kMaxAnswerLine) break;
        if (c == '\r') continue;
        line += c;
        if (c == '\n') break;
    }
    return line;
}

std::optional<UpdateAnswer> ParseUpdateAnswer(const std::string& line) {
    rapidjson::Document doc;
    doc.Parse(line.c_str(), line.size());
    if (doc.HasParseError() || !doc.IsObject()) return std::nullopt;
    UpdateAnswer answer;
    const auto take = [&doc](const char* key, std::string& out) {
        const auto it = doc.FindMember(key);
        if (it == doc.MemberEnd() || !it->value.IsString()) return false;
        out.assign(it->value.GetString(), it->value.GetStringLength());
        return true;
    };
    if (!take("status", answer.status) || !take("version", answer.version) ||
        !take("url", answer.url))
        return std::nullopt;
    take("sig", answer.sig);
    const auto rollout = doc.FindMember("rollout");
    if (rollout != doc.MemberEnd()) {
        if (!rollout->value.IsInt() || rollout->value.GetInt() < 1 || rollout->value.GetInt() > 100)
            return std::nullopt;
        answer.rollout = rollout->value.GetInt();
    }
    return answer;
}
