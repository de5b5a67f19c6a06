#include "update/server_url.h"

#include <cctype>
#include <string_view>

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

}  // namespace

std::string ServerUrl(const std::string& host, const std::string& path) {
    std::string_view rest = host;
    std::string scheme = "http://";
    if (StartsWithNoCase(rest, "https://")) {
        scheme = "https://";
        rest.remove_prefix(8);
    } else if (StartsWithNoCase(rest, "http://")) {
        rest.remove_prefix(7);
    }
    while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    return scheme + std::string(rest) + path;
}

std::string HelpPageUrl(const std::string& host, int n) {
    return ServerUrl(host, "/brisken/help" + std::to_string(n) + ".html");
}
