// The settings file through the Windows profile API.
#include <windows.h>

#include "platform/system.h"
#include "platform/windows/text.h"
#include "tests/config/settings_fixture.h"

namespace {

std::string Value(const std::string& path, const char* section, const char* key) {
    wchar_t buf[512] = {};
    GetPrivateProfileStringW(platform::win::Wide(section).c_str(), platform::win::Wide(key).c_str(),
                             L"<none>", buf, 512, platform::win::Wide(path).c_str());
    return platform::win::Utf8(std::wstring(buf));
}

TEST_F(SettingsStore, MissingFileGetsTheFiveDefaultsInOrder) {
    ASSERT_EQ(LoadSettings(Ini()), 1);
    EXPECT_EQ(g_comSpeed, "9600");
    const std::string text = ReadFile(Ini());
    size_t at = 0;
    for (const char* part : {"[COMPORT]", "port=0", "speed=9.6K", "[STATUSBOX]", "show=hidden",
                             "[COMMON]", "auto_run=N", "log=N"}) {
        const size_t found = text.find(part, at);
        ASSERT_NE(found, std::string::npos) << part << " in\n" << text;
        at = found;
    }
}

TEST_F(SettingsStore, SaveReplacesInPlaceAndAppendsWhatIsMissing) {
    ASSERT_TRUE(WriteFile(
        Ini(), "; shop 12\r\n[comport]\r\nPort=1\r\nbaud_hint=odd\r\n[VENDOR]\r\nid=77\r\n"));
    SetSettingsPath(Ini());
    SaveSetting("COMPORT", "port", "2");
    SaveSetting("COMPORT", "speed", "38.4K");
    SaveSetting("COMMON", "log", "Y");
    EXPECT_EQ(Value(Ini(), "COMPORT", "port"), "2");
    EXPECT_EQ(Value(Ini(), "COMPORT", "speed"), "38.4K");
    EXPECT_EQ(Value(Ini(), "COMMON", "log"), "Y");
    EXPECT_EQ(Value(Ini(), "VENDOR", "id"), "77");
    const std::string text = ReadFile(Ini());
    EXPECT_EQ(text.find("; shop 12"), 0u) << text;
    EXPECT_LT(text.find("baud_hint=odd"), text.find("[VENDOR]")) << text;
}

TEST_F(SettingsStore, FileThatCannotBeReadIsNeverWritten) {
    struct Case {
        const char* name;
        bool lock;  // held open by another program that shares nothing
    } cases[] = {{"a folder in its place", false}, {"a file another program holds", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = m_dir / (std::string(c.name) + ".ini");
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.lock) {
            ASSERT_TRUE(WriteFile(path, "[COMPORT]\r\nport=9\r\n"));
            held = CreateFileW(platform::win::Wide(path).c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        } else {
            ASSERT_TRUE(std::filesystem::create_directory(path));
        }
        g_comPort = 4;
        EXPECT_EQ(LoadSettings(path), 0);
        EXPECT_EQ(g_comPort, 4);
        SaveSetting("COMMON", "log", "Y");
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        if (c.lock)
            EXPECT_EQ(ReadFile(path), "[COMPORT]\r\nport=9\r\n");
        else
            EXPECT_TRUE(std::filesystem::is_directory(path));
    }
}

TEST_F(SettingsStore, FolderWithAKoreanNameHoldsTheSettings) {
    const std::string dir = m_dir / "설정 폴더";
    ASSERT_TRUE(std::filesystem::create_directory(platform::FsPath(dir)));
    const std::string ini = dir + "\\brisken.ini";
    ASSERT_EQ(LoadSettings(ini), 1);
    SaveSetting("COMPORT", "port", "7");
    ResetSettings();
    ASSERT_EQ(LoadSettings(ini), 1);
    EXPECT_EQ(g_comPort, 7);
}

}  // namespace
