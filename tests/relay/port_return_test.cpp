// A terminal port that goes away under the running relay and comes back at the
// link it was configured by: Linux only (pseudo-terminals, symbolic links).
#include <unistd.h>

#include <filesystem>

#include "tests/relay/relay_fixture.h"

namespace {

namespace fs = std::filesystem;

class PortReturn : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigureTrafficLog(dir / "CATLOG", "gate");
        g_logEnabled = true;
        g_relay.mainWindow = &display;
        g_relay.reopenMs = 100;
    }
    void TearDown() override {
        StopRelayLinks(workers);
        if (HasFailure()) std::fprintf(stderr, "--- traffic log ---\n%s", Log().c_str());
        g_relay.mainWindow = nullptr;
        g_relay.reopenMs = 2000;
        g_relay.catActive = false;
        g_logEnabled = false;
        ConfigureTrafficLog("", "", {});
    }
    // Points the link at a device path, replacing what it pointed at in one step.
    void PointLinkAt(const std::string& target) {
        const std::string tmp = link + ".new";
        fs::remove(tmp);
        ASSERT_EQ(::symlink(target.c_str(), tmp.c_str()), 0);
        fs::rename(tmp, link);
    }
    std::string Log() const {
        std::string all;
        if (!fs::is_directory(dir / "CATLOG")) return all;
        for (const auto& e : fs::directory_iterator(dir / "CATLOG"))
            all += ReadFile(e.path().string());
        return all;
    }
    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
        return n;
    }
    // The terminal asks until the relay answers it (bounded).
    static bool Answered(catsim::CatSimulator& cat) {
        for (int i = 0; i < 20; ++i) {
            if (cat.SendLoneCr() && cat.ExpectBurst(catsim::kACK, 500)) return true;
        }
        return false;
    }
    bool LastTransferStateIs(const std::string& text, uint32_t colour) const {
        const auto calls = display.CallsTo(RecordingDisplay::Line::TransferState);
        return !calls.empty() && calls.back().text == text && calls.back().colour == colour;
    }

    TempDir dir;
    std::string link = dir / "ttyTERMINAL";
    RecordingDisplay display;
    RelayWorkers workers;
};

TEST_F(PortReturn, VanishedPortIsClosedRetriedQuietlyAndServedAgainWhereItsLinkPoints) {
    VanSimulator van({});
    ASSERT_TRUE(van.Start());
    // Both devices exist from the start, so the second cannot take the first's name.
    auto first = catsim::CatSimulator::CreatePty();
    auto second = catsim::CatSimulator::CreatePty();
    ASSERT_TRUE(first && second);
    PointLinkAt(first->DevicePath());
    ASSERT_TRUE(OpenSerialPort(link, "9600"));
    workers.Start(&display);
    ASSERT_TRUE(Answered(*first));
    ASSERT_TRUE(first->SendRequest("127.0.0.1", std::to_string(van.Port())));
    ASSERT_TRUE(van.WaitAccepted(1, 3000));
    ASSERT_TRUE(WaitUntil([] { return g_relay.vanConnected.load(); }, 3000));

    // Unplugged: the port is let go of, the session ends, the lines say so.
    first->Hangup();
    ASSERT_TRUE(WaitUntil([] { return !g_relay.serialOpen.load(); }, 3000));
    EXPECT_TRUE(van.WaitClosed(1, 3000));
    EXPECT_TRUE(
        WaitUntil([&] { return LastTransferStateIs("Serial Open FAIL", kErrorColour); }, 3000));
    EXPECT_EQ(display.CallsTo(RecordingDisplay::Line::Link).back().text,
              "CAT : 비연결 | VAN : 비연결");
    // Several tries fail while it is gone; only the first is logged.
    ASSERT_TRUE(WaitUntil([&] { return Count(Log(), "Serial Open FAIL") == 1; }, 3000));
    usleep(600 * 1000);
    EXPECT_EQ(Count(Log(), "Serial Open FAIL"), 1u);

    // Plugged in again, as another device the link now names.
    ASSERT_NE(second->DevicePath(), first->DevicePath());
    PointLinkAt(second->DevicePath());
    EXPECT_TRUE(Answered(*second));
    EXPECT_TRUE(g_relay.serialOpen.load());
    EXPECT_TRUE(LastTransferStateIs("", kNormalColour));
    const std::string log = Log();
    const std::string opened = "Serial Open OK (Port : ";
    EXPECT_EQ(Count(log, opened), 2u) << log;
    const size_t close = log.find("Serial CLOSE");
    ASSERT_NE(close, std::string::npos);
    EXPECT_LT(close, log.find("Socket Disconnect"));
    EXPECT_LT(log.find("Socket Disconnect"), log.find("Serial Open FAIL"));
    EXPECT_LT(log.find("Serial Open FAIL"), log.rfind(opened));

    // Gone again, at the ordinary 2 s pace: a Disconnect ends the trying at once.
    g_relay.reopenMs = 2000;
    second->Hangup();
    ASSERT_TRUE(WaitUntil([] { return !g_relay.serialOpen.load(); }, 3000));
    const auto stopAt = std::chrono::steady_clock::now();
    StopRelayLinks(workers);
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::milliseconds(600));
}

}  // namespace
