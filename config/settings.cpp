#include "config/settings.h"

#define SI_NO_CONVERSION  // the file is plain bytes; no wide-character interface needed
#include <SimpleIni.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "log/traffic_log.h"

int32_t g_comPort = 0;
std::string g_comPortPath;
std::string g_comSpeed;
bool g_showStatusBox = false;
bool g_autoConnect = false;
std::atomic<bool> g_logEnabled{false};

namespace {

namespace fs = std::filesystem;

// The file SaveSetting writes to. User-interface thread only, like the values.
std::string g_settingsPath;

// What LoadSettings writes into a file it had to create: the five defaults in
// their fixed order, one key per line, LF line ends.
constexpr char kDefaultFile[] =
    "[COMPORT]\n"
    "port=0\n"
    "speed=9.6K\n"
    "[STATUSBOX]\n"
    "show=hidden\n"
    "[COMMON]\n"
    "auto_run=N\n"
    "log=N\n";

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

std::string ReadValue(const CSimpleIniA& ini, const char* section, const char* key,
                      const char* fallback) {
    // With multi-key loading the first of repeated keys is the one returned.
    const char* v = ini.GetValue(section, key, nullptr);
    if (v == nullptr) return fallback;
    std::string value(v);
    if (CharCount(value) > kMaxValueChars) return fallback;
    return value;
}

// Whole file into bytes; false when it is not a regular file or cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) return false;
    bytes = out.str();
    return true;
}

bool LoadIni(const std::string& bytes, CSimpleIniA& ini) {
    ini.SetSpaces(false);   // written as key=value
    ini.SetMultiKey(true);  // repeated keys are kept, the first one counts
    return ini.LoadData(bytes.data(), bytes.size()) >= 0;
}

// Creates an empty file when none is there; false when it cannot be created.
bool EnsureFile(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    if (fs::exists(path, ec)) return true;
    std::ofstream out(path, std::ios::app);
    return static_cast<bool>(out);
}

bool WriteInPlace(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

// Replaces the file's contents whole: written beside it and renamed over it, so a
// full disk or a crash leaves the old settings rather than half a file. Where no
// file can be made beside it (a read-only folder), it is rewritten in place.
bool ReplaceFile(const std::string& path, const std::string& bytes) {
    std::error_code ec;
    std::string target = path;
    if (fs::is_symlink(path, ec)) {
        const fs::path real = fs::canonical(path, ec);
        if (!ec) target = real.string();
    }
    const std::string tmp = target + ".tmp";
    fs::remove(tmp, ec);  // a leftover, or a link that would be written through
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return WriteInPlace(target, bytes);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            fs::remove(tmp, ec);
            return WriteInPlace(target, bytes);
        }
    }
    const auto perms = fs::status(target, ec).permissions();
    if (!ec) fs::permissions(tmp, perms, ec);
    fs::rename(tmp, target, ec);
    if (ec) {
        fs::remove(tmp, ec);
        return WriteInPlace(target, bytes);
    }
    return true;
}

bool UsesCrLf(const std::string& bytes) {
    const auto lf = bytes.find('\n');
    return lf != std::string::npos && lf > 0 && bytes[lf - 1] == '\r';
}

std::string ToCrLf(const std::string& lf) {
    std::string out;
    out.reserve(lf.size() + lf.size() / 8);
    for (char c : lf) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
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

    std::error_code ec;
    if (iniPath.empty()) {
        TraceStoreFailure();
        return 0;
    }
    if (!fs::exists(iniPath, ec)) {
        std::ofstream out(iniPath, std::ios::app);
        if (!out) {
            TraceStoreFailure();
            return 0;
        }
        // A failed write leaves a short file; the defaults below still apply.
        out << kDefaultFile;
    }

    std::string bytes;
    CSimpleIniA ini;
    if (!ReadWholeFile(iniPath, bytes) || !LoadIni(bytes, ini)) {
        // A folder in its place, no read permission: the values stay as they
        // were, as when the file cannot be created.
        TraceStoreFailure();
        return 0;
    }

    int32_t port = 0;
    std::string portPath;
    ParsePort(ReadValue(ini, "COMPORT", "port", "0"), port, portPath);

    const std::string speed = ReadValue(ini, "COMPORT", "speed", "9.6K");
    std::string rate = "9600";
    for (const auto& s : kSpeedLabels) {
        if (speed == s.label) {
            rate = s.rate;
            break;
        }
    }

    const std::string show = ReadValue(ini, "STATUSBOX", "show", "hidden");
    const std::string autoRun = ReadValue(ini, "COMMON", "auto_run", "N");
    const std::string log = ReadValue(ini, "COMMON", "log", "N");

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
    std::string bytes;
    CSimpleIniA ini;
    // A file that cannot be read is never overwritten: its contents would be lost.
    if (!ReadWholeFile(g_settingsPath, bytes) || !LoadIni(bytes, ini)) {
        TraceStoreFailure();
        return;
    }
    if (ini.SetValue(section.c_str(), key.c_str(), value.c_str(), nullptr, true) < 0) {
        TraceStoreFailure();
        return;
    }
    std::string out;
    if (ini.Save(out) < 0) {
        TraceStoreFailure();
        return;
    }
    if (UsesCrLf(bytes)) out = ToCrLf(out);
    if (!ReplaceFile(g_settingsPath, out)) TraceStoreFailure();
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
