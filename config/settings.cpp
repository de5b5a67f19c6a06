#include "config/settings.h"

#include <charconv>
#include <cstdio>
#include <optional>

#include "log/traffic_log.h"
#include "platform/ini_file.h"
#include "platform/system.h"

int32_t g_comPort = 0;
std::string g_comPortPath;
std::string g_comSpeed;
bool g_showStatusBox = false;
bool g_autoConnect = false;
std::atomic<bool> g_logEnabled{false};

namespace {

// The file SaveSetting writes to. User-interface thread only, like the values.
std::string g_settingsPath;

// A value is read with room for 511 characters; a longer one cannot be what the
// program wrote, and a cut-off piece of it (half a device path, a truncated
// number) would be worse than the default, so it reads as missing.
constexpr size_t kMaxValueChars = 511;

struct SpeedLabel {
    const char* label;
    const char* rate;
};
// Compared in this order, case included: both spellings of each label.
constexpr SpeedLabel kSpeedLabels[] = {
    {"9.6K", "9600"},    {"9.6k", "9600"},    {"38.4K", "38400"}, {"38.4k", "38400"},
    {"56.0K", "57600"},  {"56.0k", "57600"},  {"115.2K", "115200"}, {"115.2k", "115200"},
};

void TraceStoreFailure() {
    // The store's one trace of a file it cannot use: an empty event line,
    // written whatever the log setting says.
    WriteTrafficLog(TrafficKind::Event, "", 0);
}

size_t CharCount(const std::string& utf8) {
    size_t n = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80) ++n;
    }
    return n;
}

std::string ReadValue(const std::string& path, const char* section, const char* key,
                      const char* fallback) {
    const std::optional<std::string> v = platform::ReadIniValue(path, section, key);
    if (!v || CharCount(*v) > kMaxValueChars) return fallback;
    return *v;
}

// Creates an empty file when none is there; false when it cannot be created.
bool EnsureFile(const std::string& path) {
    if (path.empty()) return false;
    if (platform::PathExists(path)) return true;
    std::FILE* f = platform::OpenFile(path, "ab");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

// Digits only (the empty text included) give that number when it fits; an
// absolute device path is kept as it stands; anything else is no port.
void ParsePort(const std::string& text, int32_t& port, std::string& path) {
    port = 0;
    path.clear();
    if (!text.empty() && text.front() == '/') {
        path = text;
        return;
    }
    for (char c : text) {
        if (c < '0' || c > '9') return;
    }
    if (text.empty()) return;
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc() && end == text.data() + text.size()) port = value;
}

}  // namespace

void ResetSettings() {
    g_comPort = 0;
    g_comPortPath.clear();
    g_comSpeed.clear();
    g_showStatusBox = false;
    g_autoConnect = false;
    g_logEnabled = false;
}

void SetSettingsPath(const std::string& iniPath) { g_settingsPath = iniPath; }

int LoadSettings(const std::string& iniPath) {
    g_settingsPath = iniPath;

    if (iniPath.empty()) {
        TraceStoreFailure();
        return 0;
    }
    if (!platform::PathExists(iniPath)) {
        // The five defaults in their fixed order. A failed write leaves a
        // short file; the defaults below still apply.
        if (!platform::CreateIniFile(iniPath, {{"COMPORT", "port", "0"},
                                               {"COMPORT", "speed", "9.6K"},
                                               {"STATUSBOX", "show", "hidden"},
                                               {"COMMON", "auto_run", "N"},
                                               {"COMMON", "log", "N"}})) {
            TraceStoreFailure();
            return 0;
        }
    }
    if (!platform::IniFileReadable(iniPath)) {
        // A folder in its place, no read permission: the values stay as they
        // were, as when the file cannot be created.
        TraceStoreFailure();
        return 0;
    }

    int32_t port = 0;
    std::string portPath;
    ParsePort(ReadValue(iniPath, "COMPORT", "port", "0"), port, portPath);

    const std::string speed = ReadValue(iniPath, "COMPORT", "speed", "9.6K");
    std::string rate = "9600";
    for (const auto& s : kSpeedLabels) {
        if (speed == s.label) {
            rate = s.rate;
            break;
        }
    }

    const std::string show = ReadValue(iniPath, "STATUSBOX", "show", "hidden");
    const std::string autoRun = ReadValue(iniPath, "COMMON", "auto_run", "N");
    const std::string log = ReadValue(iniPath, "COMMON", "log", "N");

    g_comPort = port;
    g_comPortPath = portPath;
    g_comSpeed = rate;
    g_showStatusBox = !(show == "hidden" || show == "HIDDEN");
    g_autoConnect = autoRun == "Y" || autoRun == "y";
    g_logEnabled = log == "Y" || log == "y";
    return 1;
}

void SaveSetting(const std::string& section, const std::string& key, const std::string& value) {
    // A line break would write lines of its own into the file, and a bracket or
    // equals sign in a name would be read back as another section or key.
    if (section.empty() || key.empty() || section.find_first_of("\r\n]") != std::string::npos ||
        key.find_first_of("\r\n=") != std::string::npos ||
        value.find_first_of("\r\n") != std::string::npos) {
        return;
    }
    if (!EnsureFile(g_settingsPath)) {
        TraceStoreFailure();
        return;
    }
    // A file that cannot be read is never overwritten: its contents would be lost.
    if (!platform::IniFileReadable(g_settingsPath) ||
        !platform::WriteIniValue(g_settingsPath, section, key, value)) {
        TraceStoreFailure();
    }
}

int SpeedIndex(const std::string& speed) {
    if (speed == "9600") return 0;
    if (speed == "38400") return 1;
    if (speed == "57600") return 2;
    return 3;
}

std::string ConfiguredPortName() {
    if (g_comPort > 0) return "COM" + std::to_string(g_comPort);
    return g_comPortPath;
}
