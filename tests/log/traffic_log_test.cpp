#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "log/traffic_log.h"
#include "tests/support/manual_clock.h"
#include "tests/support/temp_dir.h"

namespace {

platform::LocalTime At(int y, int mo, int d, int h, int mi, int s, int ms) {
    platform::LocalTime t;
    t.year = y; t.month = mo; t.day = d; t.hour = h; t.minute = mi; t.second = s;
    t.millisecond = ms;
    return t;
}

std::string Line(TrafficKind kind, const std::string& bytes, int length,
                 platform::LocalTime t = At(2024, 3, 5, 9, 5, 3, 120)) {
    return FormatTrafficLine(kind, kind == TrafficKind::Event ? bytes.c_str() : bytes.data(),
                             length, t);
}

TEST(TrafficLogFormat, EveryKindHasItsTagAndWidths) {
    const std::string burst(5, '\x06');
    struct Case {
        TrafficKind kind;
        std::string data;
        int length;
        std::string expected;
    } cases[] = {
        {TrafficKind::Event, "Serial CLOSE", 0, "09:05:03.120 >            [0   ] [Serial CLOSE]\r\n"},
        {TrafficKind::Event, "", 0, "09:05:03.120 >            [0   ] []\r\n"},
        // A terminal's address field carrying a line break of its own.
        {TrafficKind::Event, "ConnectToVAN 1\r\n09:00:00.000 > \x1b(5010)", 0,
         "09:05:03.120 >            [0   ] [ConnectToVAN 1??09:00:00.000 > ?(5010)]\r\n"},
        {TrafficKind::PcToCat, burst, 5, "09:05:03.120 > [PC ->CAT] [5   ] [0606060606]\r\n"},
        {TrafficKind::CatToPc, "\x01", 1, "09:05:03.120 > [CAT->PC ] [1   ] [01]\r\n"},
        {TrafficKind::VanToPc, "AB", 2, "09:05:03.120 > [VAN->PC ] [2   ] [4142]\r\n"},
        {TrafficKind::PcToVan, "AB", 2, "09:05:03.120 > [PC ->VAN] [2   ] [4142]\r\n"},
        {TrafficKind::CatToPc, "", 0, "09:05:03.120 > [CAT->PC ] [0   ] []\r\n"},
        {TrafficKind::CatToPc, "xyz", -1, "09:05:03.120 > [CAT->PC ] [-1  ] []\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Line(c.kind, c.data, c.length), c.expected) << static_cast<int>(c.kind);
    }
}

TEST(TrafficLogFormat, RequestFrameExampleAndHighBytes) {
    const std::string request = "\x01" "127.0.0.1" "\x1C" "5010" "\x17";
    EXPECT_EQ(Line(TrafficKind::CatToPc, request, 16, At(2024, 3, 5, 9, 5, 4, 7)),
              "09:05:04.007 > [CAT->PC ] [16  ] [013132372E302E302E311C3530313017]\r\n");

    std::string high;
    for (int b = 0x80; b <= 0xFF; ++b) high += static_cast<char>(b);
    const std::string line = Line(TrafficKind::VanToPc, high, 128);
    EXPECT_NE(line.find("[128 ] [808182"), std::string::npos);
    EXPECT_NE(line.find("FDFEFF]\r\n"), std::string::npos);
}

TEST(TrafficLogFormat, LargestBufferIsDumpedWhole) {
    std::string big(2049, '\xAB');
    const std::string line = Line(TrafficKind::VanToPc, big, 2049);
    std::string hex;
    for (int i = 0; i < 2049; ++i) hex += "AB";
    EXPECT_EQ(line, "09:05:03.120 > [VAN->PC ] [2049] [" + hex + "]\r\n");
}

class TrafficLogFile : public ::testing::Test {
protected:
    TempDir dir;
    ManualClock clock{At(2024, 3, 5, 23, 59, 59, 998)};
    std::string folder = dir / "CATLOG";
    void SetUp() override { ConfigureTrafficLog(folder, "gate", clock.AsClock()); }
    void TearDown() override { ConfigureTrafficLog("", "", {}); }
};

TEST_F(TrafficLogFile, CreatesMissingFolderAndSplitsFilesAtMidnight) {
    struct stat st{};
    ASSERT_NE(stat(folder.c_str(), &st), 0);
    WriteTrafficLog(TrafficKind::Event, "first", 0);
    // A folder removed while the program runs is made again by the next line.
    std::filesystem::remove_all(folder);
    WriteTrafficLog(TrafficKind::Event, "before", 0);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    clock.Set(At(2024, 3, 6, 0, 0, 0, 1));
    WriteTrafficLog(TrafficKind::Event, "after", 0);

    EXPECT_EQ(ReadFile(folder + "/gate_20240305.LOG"),
              "23:59:59.998 >            [0   ] [before]\r\n");
    EXPECT_EQ(ReadFile(folder + "/gate_20240306.LOG"),
              "00:00:00.001 >            [0   ] [after]\r\n");
}

TEST_F(TrafficLogFile, AppendsAndNeverShortens) {
    WriteTrafficLog(TrafficKind::Event, "one", 0);
    WriteTrafficLog(TrafficKind::PcToCat, "\x1B\x1B\x1B\x1B\x1B", 5);
    EXPECT_EQ(ReadFile(folder + "/gate_20240305.LOG"),
              "23:59:59.998 >            [0   ] [one]\r\n"
              "23:59:59.998 > [PC ->CAT] [5   ] [1B1B1B1B1B]\r\n");
}

TEST_F(TrafficLogFile, UnwritableFolderWritesNothingAndCarriesOn) {
    ASSERT_TRUE(WriteFile(folder, "a file where the folder should be"));
    WriteTrafficLog(TrafficKind::Event, "lost", 0);  // must not crash or throw
    ConfigureTrafficLog(dir / "other", "gate", clock.AsClock());
    WriteTrafficLog(TrafficKind::Event, "kept", 0);
    EXPECT_EQ(ReadFile(dir / "other/gate_20240305.LOG"),
              "23:59:59.998 >            [0   ] [kept]\r\n");
}

TEST_F(TrafficLogFile, ConcurrentWritersNeverInterleaveLines) {
    constexpr int kThreads = 8;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            std::string payload(2049, static_cast<char>('A' + t));
            for (int i = 0; i < kLines; ++i) {
                WriteTrafficLog(TrafficKind::VanToPc, payload.data(), 2049);
            }
        });
    }
    for (auto& th : threads) th.join();

    const std::string all = ReadFile(folder + "/gate_20240305.LOG");
    size_t pos = 0;
    int lines = 0;
    while (pos < all.size()) {
        size_t end = all.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        const std::string line = all.substr(pos, end - pos);
        ASSERT_EQ(line.size(), std::string("23:59:59.998 > [VAN->PC ] [2049] []").size() + 4098);
        const std::string dump = line.substr(line.size() - 4099, 4098);
        EXPECT_EQ(dump.find_first_not_of(dump.substr(0, 2)), std::string::npos)
            << "a line holds bytes from two writers";
        pos = end + 2;
        ++lines;
    }
    EXPECT_EQ(lines, kThreads * kLines);
}

}  // namespace
