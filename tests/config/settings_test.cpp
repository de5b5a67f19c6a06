#include "tests/config/settings_fixture.h"

namespace {

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
        {"UTF-8 mark before the first section", "\xEF\xBB\xBF[COMPORT]\r\nport=3\r\n[COMMON]\r\nauto_run=Y\r\n",
         3, "", "9600", false, true, false},
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

TEST_F(SettingsStore, FileThatCannotBeCreatedLeavesValuesAndLogsAnEmptyEvent) {
    Scribble();
    g_logEnabled = false;  // the line is written whatever the setting says
    EXPECT_EQ(LoadSettings(m_dir / "no-such-folder/brisken.ini"), 0);
    EXPECT_EQ(g_comPort, 4);
    EXPECT_EQ(g_comSpeed, "38400");
    EXPECT_FALSE(g_logEnabled);
    EXPECT_EQ(TrafficLog(), EmptyEventLine());
}

TEST_F(SettingsStore, FileWithoutLogKeyStaysWithoutIt) {
    const std::string text = "[COMPORT]\nport=2\nspeed=38.4K\n[STATUSBOX]\nshow=show\n[COMMON]\nauto_run=Y\n";
    ASSERT_TRUE(WriteFile(Ini(), text));
    g_logEnabled = true;
    ASSERT_EQ(LoadSettings(Ini()), 1);
    EXPECT_FALSE(g_logEnabled);
    EXPECT_EQ(ReadFile(Ini()), text);
}

TEST_F(SettingsStore, SaveThatCannotCreateTheFileLogsAnEmptyEvent) {
    SetSettingsPath(m_dir / "no-such-folder/brisken.ini");
    SaveSetting("COMMON", "log", "Y");
    EXPECT_FALSE(std::filesystem::exists(m_dir / "no-such-folder"));
    EXPECT_EQ(TrafficLog(), EmptyEventLine());
}

TEST_F(SettingsStore, FileWithAUtf8MarkIsWrittenBackWholeWithIt) {
    const std::string mark = "\xEF\xBB\xBF";
    ASSERT_TRUE(WriteFile(Ini(), mark + "; 매장 12\r\n[COMPORT]\r\nport=3\r\nspeed=38.4K\r\n"
                                        "[VENDOR]\r\nid=77\r\n"));
    ASSERT_EQ(LoadSettings(Ini()), 1);
    SaveSetting("COMPORT", "port", "5");
    const std::string text = ReadFile(Ini());
    EXPECT_EQ(text.rfind(mark + "; 매장 12\r\n", 0), 0u) << text;
    EXPECT_EQ(text.find("[COMPORT]"), text.rfind("[COMPORT]")) << text;
    for (const char* kept : {"port=5\r\n", "speed=38.4K\r\n", "[VENDOR]\r\nid=77\r\n"})
        EXPECT_NE(text.find(kept), std::string::npos) << kept << " in\n" << text;
    ResetSettings();
    ASSERT_EQ(LoadSettings(Ini()), 1);
    EXPECT_EQ(g_comPort, 5);
    EXPECT_EQ(g_comSpeed, "38400");
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
