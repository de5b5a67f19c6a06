// The trace holds card transactions: on Linux its folder and files are the
// user's alone, also when they were made before with wider modes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "log/traffic_log.h"
#include "tests/support/manual_clock.h"
#include "tests/support/temp_dir.h"

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

TEST(TrafficLogPrivacy, FolderIsOwnerOnlyAndFilesTooWhateverTheUmask) {
    platform::LocalTime t;
    t.year = 2024;
    t.month = 3;
    t.day = 5;
    ManualClock clock{t};
    const mode_t oldMask = umask(0);
    for (const bool madeBefore : {false, true}) {
        SCOPED_TRACE(madeBefore);
        TempDir dir;
        const std::string folder = dir / "CATLOG";
        const std::string file = folder + "/gate_20240305.LOG";
        if (madeBefore) {
            ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
            ASSERT_TRUE(WriteFile(file, "old line\r\n"));
            ASSERT_EQ(chmod(file.c_str(), 0666), 0);
        }
        ConfigureTrafficLog(folder, "gate", clock.AsClock());
        WriteTrafficLog(TrafficKind::Event, "Serial CLOSE", 0);
        EXPECT_EQ(ModeOf(folder), 0700u);
        EXPECT_EQ(ModeOf(file), 0600u);
        EXPECT_NE(ReadFile(file).find("[Serial CLOSE]"), std::string::npos);
    }
    umask(oldMask);
    ConfigureTrafficLog("", "", {});
}

}  // namespace
