// The settings reading rules on arbitrary INI bytes, through the INI file
// interface, and one key changed the way the settings dialog changes it.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "config/settings.h"
#include "log/traffic_log.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;

// One folder per process for the INI file, removed at exit. The store's
// failure trace goes to a log folder that cannot be made (below a file), so it
// writes nothing.
struct Scratch {
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "talmira-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        dir = pattern;
        ini = dir + "/brisken.ini";
        ConfigureTrafficLog(ini + "/CATLOG", "brisken");
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string dir;
    std::string ini;
};

struct Values {
    int32_t port;
    std::string path;
    std::string speed;
    bool show;
    bool autoRun;
    bool log;
    bool operator==(const Values&) const = default;
};

Values Current() {
    return {g_comPort, g_comPortPath, g_comSpeed, g_showStatusBox, g_autoConnect, g_logEnabled.load()};
}

// What the settings dialog writes, and what each reads back as.
struct Change {
    const char* section;
    const char* key;
    const char* value;
    void (*expect)(Values&);
};
const Change kChanges[] = {
    {"COMPORT", "port", "3", [](Values& v) { v.port = 3; v.path.clear(); }},
    {"COMPORT", "port", "/dev/ttyUSB0", [](Values& v) { v.port = 0; v.path = "/dev/ttyUSB0"; }},
    {"COMPORT", "speed", "115.2K", [](Values& v) { v.speed = "115200"; }},
    {"STATUSBOX", "show", "show", [](Values& v) { v.show = true; }},
    {"COMMON", "auto_run", "Y", [](Values& v) { v.autoRun = true; }},
    {"COMMON", "log", "N", [](Values& v) { v.log = false; }},
};

bool WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

void FuzzSettingsIni(const uint8_t* data, size_t size) {
    static Scratch scratch;
    if (!WriteBytes(scratch.ini, data, size)) std::abort();

    ResetSettings();
    const Values before = Current();
    if (LoadSettings(scratch.ini) != 1) {
        FUZZ_CHECK(Current() == before);  // an unreadable file leaves the values alone
        return;
    }
    Values loaded = Current();
    const std::string& s = loaded.speed;
    FUZZ_CHECK(s == "9600" || s == "38400" || s == "57600" || s == "115200");
    FUZZ_CHECK(loaded.port >= 0);
    FUZZ_CHECK(loaded.path.empty() || (loaded.path[0] == '/' && loaded.port == 0));

    // Changing one key keeps every other value as it was read.
    const Change& c = kChanges[size == 0 ? 0 : data[size - 1] % std::size(kChanges)];
    SaveSetting(c.section, c.key, c.value);
    ResetSettings();
    FUZZ_CHECK(LoadSettings(scratch.ini) == 1);
    c.expect(loaded);
    FUZZ_CHECK(Current() == loaded);
}

TALMIRA_FUZZ_TARGET(FuzzSettingsIni)
