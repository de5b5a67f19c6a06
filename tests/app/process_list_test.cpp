#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "platform/process_list.h"
#include "platform/system.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// One entry of a made-up process file system.
struct FakeProcess {
    std::string pid;
    std::optional<std::string> exe;   // target of the exe link
    std::optional<std::string> comm;  // short command name
    char state = 'S';
};

void MakeProc(const TempDir& root, const std::vector<FakeProcess>& processes) {
    for (const FakeProcess& p : processes) {
        const std::string dir = root / p.pid;
        fs::create_directories(dir);
        if (p.exe) fs::create_symlink(*p.exe, dir + "/exe");
        if (p.comm) WriteFile(dir + "/comm", *p.comm + "\n");
        WriteFile(dir + "/stat", p.pid + " (odd) name) " + std::string(1, p.state) + " 1 1 1\n");
    }
}

TEST(CountRunningCopies, MatchesExecutableNamesFromTheStart) {
    TempDir root;
    MakeProc(root, {
                       {"10", "/opt/a/brisken", "brisken", 'S'},
                       {"11", "/other/place/brisken", std::nullopt, 'R'},   // another folder counts
                       {"12", "/opt/brisken-old", "brisken-old", 'S'},      // name starts with it
                       {"13", "/opt/xbrisken", "xbrisken", 'S'},            // contains it later
                       {"14", "/opt/Brisken", "Brisken", 'S'},              // letter case differs
                       {"15", "/opt/a/brisken", "brisken", 'Z'},            // zombie
                       {"16", std::nullopt, "brisken", 'S'},                // no exe: comm counts
                       {"17", std::nullopt, std::nullopt, 'S'},             // unreadable
                       {"self", "/opt/a/brisken", "brisken", 'S'},          // not a process
                   });
    struct Case {
        std::string name;
        int expected;
    };
    for (const Case& c : std::vector<Case>{{"brisken", 4},
                                           {"brisken-old", 1},
                                           {"Brisken", 1},
                                           {"xbrisken", 1},
                                           {"nothing", 0},
                                           {"", 0}}) {
        EXPECT_EQ(platform::CountRunningCopies(c.name, root.path()), c.expected) << c.name;
    }
}

TEST(CountRunningCopies, MissingProcessListCountsNothing) {
    EXPECT_EQ(platform::CountRunningCopies("brisken", "/nonexistent-proc-root"), 0);
}

TEST(CountRunningCopies, CountsThisProcessOnTheRealSystem) {
    const std::string exe = platform::ExecutablePath();
    const std::string name = exe.substr(exe.rfind('/') + 1);
    EXPECT_GE(platform::CountRunningCopies(name), 1);
}

}  // namespace
