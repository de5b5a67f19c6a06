// The Run value and the serial device map, in the test's own Wine registry.
#include <gtest/gtest.h>
#include <windows.h>

#include "config/autostart.h"
#include "config/paths.h"
#include "config/settings.h"
#include "platform/system.h"
#include "platform/windows/registry.h"

namespace {

const char kRun[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

class RunValue : public ::testing::Test {
protected:
    void SetUp() override {
        m_old = g_paths;
        g_paths.exeBase = "TalmiraTestBrisken";
        DeleteAutoRunValue();
    }
    void TearDown() override {
        DeleteAutoRunValue();
        g_paths = m_old;
    }
    PathValues m_old;
};

TEST_F(RunValue, SetTestDeleteUnderExeBase) {
    EXPECT_FALSE(IsAutoRunRegistered());
    EXPECT_EQ(DeleteAutoRunValue(), 0);  // nothing to delete
    EXPECT_EQ(SetAutoRun(AutoRunCommand()), 1);
    EXPECT_TRUE(IsAutoRunRegistered());
    EXPECT_EQ(platform::win::ReadRegString(HKEY_CURRENT_USER, kRun, "TalmiraTestBrisken"),
              "\"" + platform::ExecutablePath() + "\"");
    EXPECT_EQ(DeleteAutoRunValue(), 1);
    EXPECT_FALSE(IsAutoRunRegistered());
    EXPECT_EQ(SetAutoRun("\"C:\\x\"\r\nother"), 0) << "a line break is refused";
}

// Names in the order they are added, which is also their sorted order (Wine
// keeps values sorted).
TEST(SerialDeviceMap, EveryValueInRegistryOrderWhateverItsLength) {
    const char kKey[] = "Software\\TalmiraTest\\SERIALCOMM";
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TalmiraTest");
    EXPECT_TRUE(platform::win::RegValueTexts(HKEY_CURRENT_USER, kKey).empty())
        << "a missing key lists none";
    ASSERT_TRUE(platform::win::WriteRegString(HKEY_CURRENT_USER, kKey, "\\Device\\A", "COM5"));
    ASSERT_TRUE(platform::win::WriteRegString(HKEY_CURRENT_USER, kKey, "\\Device\\B", "COM3"));
    ASSERT_TRUE(platform::win::WriteRegString(HKEY_CURRENT_USER, kKey, "\\Device\\C",
                                              std::string(200, 'C')));
    ASSERT_TRUE(platform::win::WriteRegString(HKEY_CURRENT_USER, kKey, "\\Device\\D", "COM9"));
    // A value longer than any port name (a driver's odd entry) hides nothing after it.
    EXPECT_EQ(platform::win::RegValueTexts(HKEY_CURRENT_USER, kKey),
              (std::vector<std::string>{"COM5", "COM3", std::string(200, 'C'), "COM9"}));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TalmiraTest");
}

}  // namespace
