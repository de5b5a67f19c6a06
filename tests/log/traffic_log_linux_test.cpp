// The trace holds card transactions: on Linux its folder and files are the
// user's alone, also when they were made before with wider modes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "log/traffic_log.h"
#include "platform/system.h"
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

// Another account's folder or file is never written into (judged on what was
// opened: a link at the day file's name is not followed), nor is a folder of
// another account that others may write used as the install folder; one that
// only its owner changes is run from.
TEST(TrafficLogPrivacy, OursTightenedAnotherAccountsNotWrittenInto) {
    platform::LocalTime t;
    t.year = 2024;
    t.month = 3;
    t.day = 5;
    ManualClock clock{t};
    const mode_t oldMask = umask(0);
    const uid_t other = 4321;
    struct Case {
        const char* name;
        mode_t folderMode;  // 0: not made before
        uid_t folderOwner;
        mode_t fileMode;    // 0: not made before; 1: a link to a file elsewhere
        uid_t fileOwner;
        mode_t wantFolder, wantFile;
        bool written;
    } cases[] = {
        {"ours made before with wide modes", 0777, 0, 0666, 0, 0700, 0600, true},
        {"another's folder others may write", 0777, other, 0, 0, 0777, 0, false},
        {"another's day file others may read", 0700, 0, 0644, other, 0700, 0644, false},
        {"a link at the day file's name", 0700, 0, 1, 0, 0700, 0666, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string folder = dir / "CATLOG";
        const std::string file = folder + "/gate_20240305.LOG";
        if (c.folderMode != 0) {
            ASSERT_EQ(mkdir(folder.c_str(), c.folderMode), 0);
            ASSERT_EQ(chown(folder.c_str(), c.folderOwner, c.folderOwner), 0);
        }
        if (c.fileMode == 1) {
            ASSERT_TRUE(WriteFile(dir / "elsewhere", ""));
            ASSERT_EQ(symlink((dir / "elsewhere").c_str(), file.c_str()), 0);
        } else if (c.fileMode != 0) {
            ASSERT_TRUE(WriteFile(file, "old line\r\n"));
            ASSERT_EQ(chmod(file.c_str(), c.fileMode), 0);
            ASSERT_EQ(chown(file.c_str(), c.fileOwner, c.fileOwner), 0);
        }
        ConfigureTrafficLog(folder, "gate", clock.AsClock());
        WriteTrafficLog(TrafficKind::Event, "Serial CLOSE", 0);
        EXPECT_EQ(ModeOf(folder), c.wantFolder);
        EXPECT_EQ(ModeOf(file), c.wantFile);
        const std::string text = ReadFile(c.fileMode == 1 ? dir / "elsewhere" : file);
        EXPECT_EQ(text.find("[Serial CLOSE]") != std::string::npos, c.written) << text;
        if (c.fileMode == 0 && c.folderOwner == 0) continue;
        // The same folder as an install folder: used only when no one but its owner may write it.
        EXPECT_EQ(platform::MakeProgramDirectory(folder), c.folderOwner == 0);
        EXPECT_EQ(platform::IsOwnWritableDirectory(folder), c.folderOwner == 0);
    }
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "QAVEX").c_str(), 0755), 0);
    ASSERT_EQ(chown((dir / "QAVEX").c_str(), other, other), 0);
    EXPECT_TRUE(platform::MakeProgramDirectory(dir / "QAVEX"));
    EXPECT_FALSE(platform::IsOwnWritableDirectory(dir / "QAVEX"));
    EXPECT_EQ(ModeOf(dir / "QAVEX"), 0755u);
    umask(oldMask);
    ConfigureTrafficLog("", "", {});
}

}  // namespace
