#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/network.h"
#include "tests/support/temp_dir.h"
#include "tests/update/process_util.h"
#include "tools/catsim/cat_simulator.h"
#include "tools/vansim/van_simulator.h"

namespace {

namespace fs = std::filesystem;

// Reads from the terminal until the text has come (bounded); all that came.
std::string ReadUntilContains(catsim::CatSimulator& cat, const std::string& text, int timeoutMs) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        got += cat.ReadUntilQuiet(100, 500);
    }
    return got;
}

// The test's environment with a home of its own, headless and without
// HOMEDRIVE; the program's output goes to the test's.
std::vector<std::string> ProgramEnvironment(const TempDir& home) {
    std::vector<std::string> env = OwnHomeEnvironment(home);
    const std::set<std::string> replaced = {
        "HOME",          "HOMEDRIVE",      "QT_QPA_PLATFORM", "XDG_CONFIG_HOME",
        "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"};
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (replaced.count(entry.substr(0, entry.find('='))) == 0) env.push_back(entry);
    }
    return env;
}

// The program installed under a name of its own (so no other copy on this
// machine counts), with the given settings; its path.
std::string InstallProgram(const TempDir& home, const std::string& name, const std::string& ini) {
    const std::string installDir = home / "QAVEX";
    fs::create_directories(installDir);
    const std::string exe = installDir + "/" + name;
    fs::copy_file(BRISKEN_BINARY, exe);
    fs::permissions(exe, fs::perms::owner_all);
    WriteFile(installDir + "/" + name + ".ini", ini);
    return exe;
}

// The installed program, started as a shop would start it, relays one whole
// terminal transaction to a VAN on this machine and traces it.
TEST(EndToEnd, ProgramRelaysAWholeTransaction) {
    if (!platform::HasNetworkConnection()) {
        GTEST_SKIP() << "the program ends at once on a machine without a network connection";
    }
    TempDir home;
    const std::string installDir = home / "QAVEX";

    VanSimulator::Options vanOptions;
    vanOptions.mode = VanSimulator::Mode::Echo;
    vanOptions.greeting = "HELLO";
    VanSimulator van(vanOptions);
    ASSERT_TRUE(van.Start());
    auto cat = catsim::CatSimulator::CreatePty();
    ASSERT_TRUE(cat);
    const std::string exe = InstallProgram(
        home, "brisken-e2e",
        "[COMPORT]\nport=" + cat->DevicePath() +
            "\nspeed=9.6K\n[STATUSBOX]\nshow=hidden\n[COMMON]\nauto_run=Y\nlog=Y\n");

    const std::vector<std::string> env = ProgramEnvironment(home);
    const int program = StartProcess(exe, {}, installDir, env);
    ASSERT_GT(program, 0);

    // The program connects by itself; the terminal asks until it answers.
    bool answered = false;
    for (int i = 0; i < 40 && !answered && ProcessAlive(program); ++i) {
        ASSERT_TRUE(cat->SendLoneCr());
        answered = cat->ExpectBurst(catsim::kACK, 500);
    }
    EXPECT_TRUE(answered) << "the program never answered the terminal";

    if (answered) {
        cat->ReadUntilQuiet(150, 400);  // any late ACKs
        ASSERT_TRUE(cat->SendRequest("127.0.0.1", std::to_string(van.Port())));
        EXPECT_TRUE(van.WaitAccepted(1, 5000));
        EXPECT_NE(ReadUntilContains(*cat, "HELLO", 5000).find("HELLO"), std::string::npos);
        ASSERT_TRUE(cat->Send("PAY 1000"));
        EXPECT_TRUE(van.WaitReceived(8, 5000));
        EXPECT_EQ(van.Received(), "PAY 1000");
        EXPECT_NE(ReadUntilContains(*cat, "PAY 1000", 5000).find("PAY 1000"), std::string::npos);
        ASSERT_TRUE(cat->SendRun(catsim::kESC));
        EXPECT_TRUE(van.WaitClosed(1, 5000));
    }

    EndProcess(program);
    WaitChild(program, std::chrono::milliseconds(5000));

    std::string log;
    if (fs::is_directory(installDir + "/CATLOG")) {
        for (const auto& e : fs::directory_iterator(installDir + "/CATLOG")) {
            EXPECT_EQ(e.path().filename().string().rfind("brisken-e2e_", 0), 0u);
            log += ReadFile(e.path().string());
        }
    }
    // Each buffer is traced as it came in and as it went out.
    const std::string pay = "[5041592031303030]";  // "PAY 1000"
    for (const char* direction : {"[CAT->PC ]", "[PC ->VAN]", "[VAN->PC ]", "[PC ->CAT]"}) {
        EXPECT_NE(log.find(std::string(direction) + " [8   ] " + pay), std::string::npos)
            << direction << "\n"
            << log;
    }
}

// Two copies started at the same moment (the session's autostart and a
// double-click): exactly one stays, whichever gets the lock.
TEST(EndToEnd, OfTwoRacingCopiesExactlyOneStays) {
    if (!platform::HasNetworkConnection()) {
        GTEST_SKIP() << "the program ends at once on a machine without a network connection";
    }
    TempDir home;
    const std::string exe = InstallProgram(home, "brisken-race", "[COMMON]\nauto_run=N\n");
    const std::vector<std::string> env = ProgramEnvironment(home);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const int a = StartProcess(exe, {}, home / "QAVEX", env);
        const int b = StartProcess(exe, {}, home / "QAVEX", env);
        ASSERT_GT(a, 0);
        ASSERT_GT(b, 0);
        // The loser ends once its start has run; the winner is still there
        // well after the copy wait.
        const bool oneEnded = WaitUntil([&] { return !ProcessAlive(a) || !ProcessAlive(b); },
                                        std::chrono::milliseconds(20000));
        EXPECT_TRUE(oneEnded);
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        EXPECT_NE(ProcessAlive(a), ProcessAlive(b)) << "exactly one copy runs";
        for (const int pid : {a, b}) {
            EndProcess(pid);
            WaitChild(pid, std::chrono::milliseconds(5000));
        }
    }
}

}  // namespace
