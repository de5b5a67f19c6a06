#include "config/port_identity.h"

#include <cctype>
#include <cstdio>
#include <mutex>

#include "config/paths.h"
#include "platform/system.h"

PortIdentitySource g_portIdentitySource = &platform::ListPortIdentities;

namespace {

std::mutex g_fileMutex;  // the open thread and the terminal worker both write it

bool SamePort(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string ReadIdentityFile() {
    std::FILE* f = platform::OpenFile(KnownIdentityPath(), "rb");
    if (f == nullptr) return "";
    char buf[512];
    const size_t n = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    std::string text(buf, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace

std::string KnownIdentityPath() {
    if (g_paths.installDir.empty()) return "";
    return platform::JoinPath(g_paths.installDir, g_paths.exeBase + ".port");
}

std::string ReadKnownIdentity() {
    std::lock_guard lock(g_fileMutex);
    return ReadIdentityFile();
}

void RememberPortIdentity(const std::string& port) {
    if (g_portIdentitySource == nullptr || KnownIdentityPath().empty()) return;
    std::string identity;
    for (const auto& present : g_portIdentitySource())
        if (SamePort(present.port, port)) identity = present.identity;
    if (identity.empty()) return;
    std::lock_guard lock(g_fileMutex);
    if (ReadIdentityFile() == identity) return;
    // One short write; a cut one leaves a text no adapter has.
    std::FILE* f = platform::OpenFile(KnownIdentityPath(), "wb");
    if (f == nullptr) return;
    std::fwrite(identity.data(), 1, identity.size(), f);
    std::fclose(f);
}

std::string FollowedPort(const std::string& configured, const std::string& known,
                         const std::vector<platform::PortIdentity>& present) {
    if (known.empty()) return "";
    std::string match;
    int matches = 0;
    for (const auto& port : present) {
        if (SamePort(port.port, configured)) return "";  // there: waited on as it is
        if (port.identity == known) {
            match = port.port;
            ++matches;
        }
    }
    return matches == 1 ? match : "";
}
