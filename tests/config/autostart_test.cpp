// The XDG autostart entry and the ports libserialport reports: Linux only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "config/autostart.h"
#include "config/paths.h"
#include "config/port_discovery.h"
#include "config/settings.h"
#include "platform/system.h"
#include "tests/support/temp_dir.h"

namespace {

// Points the XDG config folder at a temporary one and names the program.
class AutoRun : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        m_hadOld = old != nullptr;
        if (m_hadOld) m_old = old;
        setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1);
        m_oldPaths = g_paths;
        g_paths.exeBase = "brisken";
    }
    void TearDown() override {
        if (m_hadOld) setenv("XDG_CONFIG_HOME", m_old.c_str(), 1);
        else unsetenv("XDG_CONFIG_HOME");
        g_paths = m_oldPaths;
    }
    std::string Entry() const { return m_dir / "autostart/brisken.desktop"; }
    static std::string Expected(const std::string& exec) {
        return "[Desktop Entry]\nType=Application\nName=brisken\nExec=" + exec +
               "\nX-GNOME-Autostart-enabled=true\n";
    }

    TempDir m_dir;
    bool m_hadOld = false;
    std::string m_old;
    PathValues m_oldPaths;
};

TEST_F(AutoRun, SetTestDelete) {
    EXPECT_FALSE(IsAutoRunRegistered());
    EXPECT_EQ(DeleteAutoRunValue(), 0);  // nothing to delete

    // The folder is created on the way.
    EXPECT_EQ(SetAutoRun("\"/opt/QAVEX/brisken\""), 1);
    EXPECT_TRUE(IsAutoRunRegistered());
    EXPECT_EQ(ReadFile(Entry()), Expected("\"/opt/QAVEX/brisken\""));

    EXPECT_EQ(DeleteAutoRunValue(), 1);
    EXPECT_FALSE(IsAutoRunRegistered());
    EXPECT_FALSE(std::filesystem::exists(Entry()));
    EXPECT_EQ(DeleteAutoRunValue(), 0);
}

TEST_F(AutoRun, OverwritesAnEntryPointingElsewhere) {
    std::filesystem::create_directories(m_dir / "autostart");
    ASSERT_TRUE(WriteFile(Entry(), "[Desktop Entry]\nType=Application\nName=x\nExec=/usr/bin/other --flag\n"));
    EXPECT_TRUE(IsAutoRunRegistered());  // registered whatever the entry holds
    EXPECT_EQ(SetAutoRun("\"/home/pos/QAVEX/brisken\""), 1);
    EXPECT_EQ(ReadFile(Entry()), Expected("\"/home/pos/QAVEX/brisken\""));
    // Nothing else is left in the folder (no temporary file).
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(m_dir / "autostart")) ++files;
    EXPECT_EQ(files, 1);
}

TEST_F(AutoRun, EntriesAreKeyedByExeBase) {
    EXPECT_EQ(SetAutoRun("\"/a/brisken\""), 1);
    g_paths.exeBase = "brisken2";
    EXPECT_FALSE(IsAutoRunRegistered());
    EXPECT_EQ(SetAutoRun("\"/a/brisken2\""), 1);
    EXPECT_EQ(DeleteAutoRunValue(), 1);
    g_paths.exeBase = "brisken";
    EXPECT_TRUE(IsAutoRunRegistered());
}

TEST_F(AutoRun, ExecValueIsEscaped) {
    // A backslash is doubled and a percent sign is not a field code.
    EXPECT_EQ(SetAutoRun("\"/opt/100%/a\\$b\""), 1);
    EXPECT_EQ(ReadFile(Entry()), Expected("\"/opt/100%%/a\\\\$b\""));
    // A line break cannot be held by the entry: refused, the old entry stays.
    EXPECT_EQ(SetAutoRun("\"/x\"\nExec=/bin/evil"), 0);
    EXPECT_EQ(ReadFile(Entry()), Expected("\"/opt/100%%/a\\\\$b\""));
}

TEST_F(AutoRun, FailsWhenTheFolderCannotBeMade) {
    ASSERT_TRUE(WriteFile(m_dir / "autostart", "a file where the folder belongs"));
    EXPECT_EQ(SetAutoRun("\"/a/brisken\""), 0);
    EXPECT_FALSE(IsAutoRunRegistered());
}

TEST(SystemPorts, AreDevicePaths) {
    for (const auto& name : SystemSerialPorts()) EXPECT_EQ(name.rfind("/dev/", 0), 0u) << name;
}

TEST(AutoRunCommandText, QuotesTheRunningExecutable) {
    const std::string exe = platform::ExecutablePath();
    ASSERT_FALSE(exe.empty());
    ASSERT_EQ(exe.find_first_of("\"`$\\"), std::string::npos);
    EXPECT_EQ(AutoRunCommand(), "\"" + exe + "\"");
}

}  // namespace
