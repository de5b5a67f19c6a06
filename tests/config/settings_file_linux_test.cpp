// The SimpleIni file behind the settings on Linux: its exact bytes, its
// permissions, FIFOs and unreadable files.
#include <sys/stat.h>
#include <unistd.h>

#include "tests/config/settings_fixture.h"

namespace {

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

TEST_F(SettingsStore, SaveIntoDeletedFileHoldsOnlyThatKey) {
    ASSERT_EQ(LoadSettings(Ini()), 1);
    ASSERT_TRUE(std::filesystem::remove(Ini()));
    SaveSetting("COMMON", "log", "Y");
    EXPECT_EQ(ReadFile(Ini()), "[COMMON]\nlog=Y\n");
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

TEST_F(SettingsStore, SaveKeepsFilePermissions) {
    ASSERT_TRUE(WriteFile(Ini(), "[COMPORT]\nport=1\n"));
    ASSERT_EQ(chmod(Ini().c_str(), 0640), 0);
    SetSettingsPath(Ini());
    SaveSetting("COMPORT", "port", "2");
    struct stat st{};
    ASSERT_EQ(stat(Ini().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

}  // namespace
