#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "config/settings.h"
#include "log/traffic_log.h"
#include "tests/support/manual_clock.h"
#include "tests/support/temp_dir.h"

namespace {

const char kFreshFile[] =
    "[COMPORT]\nport=0\nspeed=9.6K\n[STATUSBOX]\nshow=hidden\n[COMMON]\nauto_run=N\nlog=N\n";

platform::LocalTime Noon() {
    platform::LocalTime t;
    t.year = 2024; t.month = 6; t.day = 1; t.hour = 12;
    return t;
}

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettings();
        ConfigureTrafficLog(m_dir / "CATLOG", "brisken", m_clock.AsClock());
    }
    void TearDown() override { ResetSettings(); }

    std::string Ini() const { return m_dir / "brisken.ini"; }
    std::string TrafficLog() const {
        return ReadFile(m_dir / "CATLOG" + "/" + TrafficLogFileName("brisken", Noon()));
    }
    static std::string EmptyEventLine() { return FormatTrafficLine(TrafficKind::Event, "", 0, Noon()); }

    // Values a test can see changed when a failed load must leave them alone.
    static void Scribble() {
        g_comPort = 4;
        g_comSpeed = "38400";
        g_showStatusBox = true;
        g_autoConnect = true;
        g_logEnabled = true;
    }
    static void ExpectScribbled() {
        EXPECT_EQ(g_comPort, 4);
        EXPECT_EQ(g_comSpeed, "38400");
        EXPECT_TRUE(g_showStatusBox);
        EXPECT_TRUE(g_autoConnect);
        EXPECT_TRUE(g_logEnabled);
    }

    TempDir m_dir;
    ManualClock m_clock{Noon()};
};

struct ReadCase {
    const char* name;
    std::string file;
    int32_t port;
    std::string portPath;
    std::string speed;
    bool show;
    bool autoConnect;
    bool log;
};

TEST_F(SettingsStore, ReadingRules) {
    const std::string longValue(512, '1');
    const std::string exactly511(511, 'x');
    const ReadCase cases[] = {
        {"all five", "[COMPORT]\nport=3\nspeed=115.2K\n[STATUSBOX]\nshow=show\n[COMMON]\nauto_run=Y\nlog=y\n",
         3, "", "115200", true, true, true},
        {"empty file takes every default", "", 0, "", "9600", false, false, false},
        {"leading zeros", "[COMPORT]\nport=007\n", 7, "", "9600", false, false, false},
        {"COM prefix is no port", "[COMPORT]\nport=COM3\n", 0, "", "9600", false, false, false},
        {"blanks around digits", "[COMPORT]\nport= 12 \n", 12, "", "9600", false, false, false},
        {"empty port", "[COMPORT]\nport=\n", 0, "", "9600", false, false, false},
        {"signed port", "[COMPORT]\nport=-3\n", 0, "", "9600", false, false, false},
        {"port too large for 32 bits", "[COMPORT]\nport=4294967299\n", 0, "", "9600", false, false, false},
        {"device path", "[COMPORT]\nport=/dev/ttyUSB0\n", 0, "/dev/ttyUSB0", "9600", false, false, false},
        {"relative path is no port", "[COMPORT]\nport=dev/ttyUSB0\n", 0, "", "9600", false, false, false},
        {"plain number speed", "[COMPORT]\nspeed=115200\n", 0, "", "9600", false, false, false},
        {"lower-case 56.0k", "[COMPORT]\nspeed=56.0k\n", 0, "", "57600", false, false, false},
        {"38.4K", "[COMPORT]\nspeed=38.4K\n", 0, "", "38400", false, false, false},
        {"9.6k", "[COMPORT]\nspeed=9.6k\n", 0, "", "9600", false, false, false},
        {"mixed case label", "[COMPORT]\nspeed=115.2k\n", 0, "", "115200", false, false, false},
        {"unknown label", "[COMPORT]\nspeed=56.0KB\n", 0, "", "9600", false, false, false},
        {"show=Hidden means shown", "[STATUSBOX]\nshow=Hidden\n", 0, "", "9600", true, false, false},
        {"empty show means shown", "[STATUSBOX]\nshow=\n", 0, "", "9600", true, false, false},
        {"HIDDEN", "[STATUSBOX]\nshow=HIDDEN\n", 0, "", "9600", false, false, false},
        {"auto_run=yes is off", "[COMMON]\nauto_run=yes\nlog=N\n", 0, "", "9600", false, false, false},
        {"lower-case y", "[COMMON]\nauto_run=y\nlog=Y\n", 0, "", "9600", false, true, true},
        {"names in other case", "[comport]\nPORT=5\nSpeed=38.4k\n[StatusBox]\nSHOW=show\n[common]\nAuto_Run=Y\nLOG=Y\n",
         5, "", "38400", true, true, true},
        {"values trimmed", "[COMPORT]\nspeed =  56.0K  \n[COMMON]\nlog =   Y\t\n", 0, "", "57600", false, false, true},
        {"CR LF lines", "[COMPORT]\r\nport=2\r\n[COMMON]\r\nlog=Y\r\n", 2, "", "9600", false, false, true},
        {"first of repeated keys counts", "[COMPORT]\nport=3\nport=5\n", 3, "", "9600", false, false, false},
        {"overlong value reads as missing", "[COMPORT]\nport=" + longValue + "\n[STATUSBOX]\nshow=" + longValue + "\n",
         0, "", "9600", false, false, false},
        {"511 characters still read", "[STATUSBOX]\nshow=" + exactly511 + "\n", 0, "", "9600", true, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetSettings();
        ASSERT_TRUE(WriteFile(Ini(), c.file));
        ASSERT_EQ(LoadSettings(Ini()), 1);
        EXPECT_EQ(g_comPort, c.port);
        EXPECT_EQ(g_comPortPath, c.portPath);
        EXPECT_EQ(g_comSpeed, c.speed);
        EXPECT_EQ(g_showStatusBox, c.show);
        EXPECT_EQ(g_autoConnect, c.autoConnect);
        EXPECT_EQ(g_logEnabled.load(), c.log);
        // Reading never writes: missing keys are not added.
        EXPECT_EQ(ReadFile(Ini()), c.file);
    }
}

TEST_F(SettingsStore, MissingFileIsCreatedWithTheFiveDefaults) {
    ASSERT_EQ(LoadSettings(Ini()), 1);
    EXPECT_EQ(ReadFile(Ini()), kFreshFile);
    EXPECT_EQ(g_comPort, 0);
    EXPECT_EQ(g_comSpeed, "9600");
    EXPECT_FALSE(g_showStatusBox);
    EXPECT_FALSE(g_autoConnect);
    EXPECT_FALSE(g_logEnabled);
    EXPECT_EQ(TrafficLog(), "");
}

TEST_F(SettingsStore, FileThatCannotBeCreatedLeavesValuesAndLogsAnEmptyEvent) {
    Scribble();
    g_logEnabled = false;  // the line is written whatever the setting says
    EXPECT_EQ(LoadSettings(m_dir / "no-such-folder/brisken.ini"), 0);
    EXPECT_EQ(g_comPort, 4);
    EXPECT_EQ(g_comSpeed, "38400");
    EXPECT_FALSE(g_logEnabled);
    EXPECT_EQ(TrafficLog(), EmptyEventLine());
}

TEST_F(SettingsStore, FileThatCannotBeReadLeavesValues) {
    struct Case {
        const char* name;
        bool (*make)(const std::string& path);
    } cases[] = {
        {"a folder in its place",
         [](const std::string& p) { return std::filesystem::create_directory(p); }},
        // Opening a FIFO for reading would wait for a writer forever.
        {"a FIFO in its place", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = m_dir / (std::string(c.name) + ".ini");
        ASSERT_TRUE(c.make(path));
        Scribble();
        EXPECT_EQ(LoadSettings(path), 0);
        ExpectScribbled();
        // Saving into it neither hangs, crashes nor replaces it.
        SaveSetting("COMMON", "log", "Y");
        EXPECT_FALSE(std::filesystem::is_regular_file(path));
    }
    EXPECT_EQ(TrafficLog(), EmptyEventLine() + EmptyEventLine() + EmptyEventLine() + EmptyEventLine());
}

TEST_F(SettingsStore, UnreadableFileLeavesValuesAndIsNotOverwritten) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    const std::string text = "[COMPORT]\nport=9\n";
    ASSERT_TRUE(WriteFile(Ini(), text));
    ASSERT_EQ(chmod(Ini().c_str(), 0200), 0);
    Scribble();
    EXPECT_EQ(LoadSettings(Ini()), 0);
    ExpectScribbled();
    SaveSetting("COMMON", "log", "Y");
    ASSERT_EQ(chmod(Ini().c_str(), 0600), 0);
    EXPECT_EQ(ReadFile(Ini()), text);
}

TEST_F(SettingsStore, FileWithoutLogKeyStaysWithoutIt) {
    const std::string text = "[COMPORT]\nport=2\nspeed=38.4K\n[STATUSBOX]\nshow=show\n[COMMON]\nauto_run=Y\n";
    ASSERT_TRUE(WriteFile(Ini(), text));
    g_logEnabled = true;
    ASSERT_EQ(LoadSettings(Ini()), 1);
    EXPECT_FALSE(g_logEnabled);
    EXPECT_EQ(ReadFile(Ini()), text);
}

TEST_F(SettingsStore, SaveIntoDeletedFileHoldsOnlyThatKey) {
    ASSERT_EQ(LoadSettings(Ini()), 1);
    ASSERT_TRUE(std::filesystem::remove(Ini()));
    SaveSetting("COMMON", "log", "Y");
    EXPECT_EQ(ReadFile(Ini()), "[COMMON]\nlog=Y\n");
}

TEST_F(SettingsStore, SaveThatCannotCreateTheFileLogsAnEmptyEvent) {
    SetSettingsPath(m_dir / "no-such-folder/brisken.ini");
    SaveSetting("COMMON", "log", "Y");
    EXPECT_FALSE(std::filesystem::exists(m_dir / "no-such-folder"));
    EXPECT_EQ(TrafficLog(), EmptyEventLine());
}

struct SaveCase {
    const char* name;
    std::string before;
    std::string section, key, value;
    std::string after;
};

TEST_F(SettingsStore, SaveReplacesOrAppendsAndKeepsTheRest) {
    const SaveCase cases[] = {
        {"fresh file, value replaced in place", kFreshFile, "COMPORT", "speed", "115.2K",
         "[COMPORT]\nport=0\nspeed=115.2K\n\n\n[STATUSBOX]\nshow=hidden\n\n\n[COMMON]\nauto_run=N\nlog=N\n"},
        {"other case names match the existing key", "[comport]\nPort=1\nspeed=9.6K\n", "COMPORT", "port", "/dev/ttyUSB0",
         "[comport]\nport=/dev/ttyUSB0\nspeed=9.6K\n"},
        {"missing key appended to its section", "[COMPORT]\nport=1\n[COMMON]\nauto_run=Y\n", "COMPORT", "speed", "38.4K",
         "[COMPORT]\nport=1\nspeed=38.4K\n\n\n[COMMON]\nauto_run=Y\n"},
        {"missing section appended", "[COMPORT]\nport=1\n", "COMMON", "log", "Y",
         "[COMPORT]\nport=1\n\n\n[COMMON]\nlog=Y\n"},
        {"comments, unknown keys and sections kept in order",
         "; shop 12, counter 2\n[COMPORT]\n; the terminal\nport=3\nbaud_hint=odd\n[VENDOR]\nid=77\n[COMMON]\nlog=N\n",
         "COMMON", "log", "Y",
         "; shop 12, counter 2\n\n\n[COMPORT]\n\n; the terminal\nport=3\nbaud_hint=odd\n\n\n[VENDOR]\nid=77\n\n\n[COMMON]\nlog=Y\n"},
        {"CR LF file keeps CR LF", "[COMPORT]\r\nport=1\r\n", "COMPORT", "port", "2",
         "[COMPORT]\r\nport=2\r\n"},
        {"value with a line break is refused", "[COMPORT]\nport=1\n", "COMPORT", "port", "2\n[X]\ny=1",
         "[COMPORT]\nport=1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteFile(Ini(), c.before));
        SetSettingsPath(Ini());
        SaveSetting(c.section, c.key, c.value);
        EXPECT_EQ(ReadFile(Ini()), c.after);
        // A second save of the same value changes nothing more.
        SaveSetting(c.section, c.key, c.value);
        EXPECT_EQ(ReadFile(Ini()), c.after);
    }
    EXPECT_FALSE(std::filesystem::exists(Ini() + ".tmp"));
}

TEST_F(SettingsStore, SavedValuesLoadBack) {
    ASSERT_EQ(LoadSettings(Ini()), 1);
    SaveSetting("COMPORT", "port", "/dev/ttyACM1");
    SaveSetting("COMPORT", "speed", "56.0K");
    SaveSetting("STATUSBOX", "show", "show");
    SaveSetting("COMMON", "auto_run", "Y");
    SaveSetting("COMMON", "log", "Y");
    ResetSettings();
    ASSERT_EQ(LoadSettings(Ini()), 1);
    EXPECT_EQ(g_comPort, 0);
    EXPECT_EQ(g_comPortPath, "/dev/ttyACM1");
    EXPECT_EQ(ConfiguredPortName(), "/dev/ttyACM1");
    EXPECT_EQ(g_comSpeed, "57600");
    EXPECT_TRUE(g_showStatusBox);
    EXPECT_TRUE(g_autoConnect);
    EXPECT_TRUE(g_logEnabled);
}

TEST_F(SettingsStore, SaveKeepsFilePermissions) {
    ASSERT_TRUE(WriteFile(Ini(), "[COMPORT]\nport=1\n"));
    ASSERT_EQ(chmod(Ini().c_str(), 0640), 0);
    SetSettingsPath(Ini());
    SaveSetting("COMPORT", "port", "2");
    struct stat st{};
    ASSERT_EQ(stat(Ini().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(SettingsValues, SpeedIndexAndPortName) {
    EXPECT_EQ(SpeedIndex("9600"), 0);
    EXPECT_EQ(SpeedIndex("38400"), 1);
    EXPECT_EQ(SpeedIndex("57600"), 2);
    EXPECT_EQ(SpeedIndex("115200"), 3);
    EXPECT_EQ(SpeedIndex(""), 3);
    EXPECT_EQ(SpeedIndex("56000"), 3);

    ResetSettings();
    EXPECT_EQ(ConfiguredPortName(), "");
    g_comPort = 7;
    EXPECT_EQ(ConfiguredPortName(), "COM7");
    g_comPort = 0;
    g_comPortPath = "/dev/ttyUSB1";
    EXPECT_EQ(ConfiguredPortName(), "/dev/ttyUSB1");
    ResetSettings();
    EXPECT_EQ(g_comPortPath, "");
    EXPECT_EQ(g_comSpeed, "");
}

}  // namespace
