#include <atomic>
#include <chrono>

#include "relay/socket_comm.h"
#include "tests/relay/relay_fixture.h"

namespace {

using Line = RecordingDisplay::Line;
using Clock = std::chrono::steady_clock;

VanSimulator::Options Echo(std::string greeting = "HELLO") {
    VanSimulator::Options o;
    o.mode = VanSimulator::Mode::Echo;
    o.greeting = std::move(greeting);
    return o;
}

class RelaySession : public RelayFixture {};

TEST_F(RelaySession, LoneCrIsAnsweredWithFiveAcksThenTheRequestConnects) {
    VanSimulator van(Echo());
    ASSERT_TRUE(van.Start());
    ASSERT_TRUE(cat->SendLoneCr());
    // The gateway first waits out its continuation read (about 2.5 s of quiet).
    ASSERT_EQ(cat->ReadExactly(5, 4000), Burst(kACK));
    Connect(van);
    EXPECT_TRUE(WaitLog("[ConnectToVAN 127.0.0.1(" + std::to_string(van.Port()) + ")]"));
    EXPECT_TRUE(WaitLog("[Socket Connected]"));
    EXPECT_TRUE(WaitLog("[PC ->CAT] [5   ] [0606060606]"));
}

TEST_F(RelaySession, DataCrossesBothWaysUnchangedAndIsTracedWithItsTags) {
    VanSimulator van(Echo());
    ASSERT_TRUE(van.Start());
    g_relay.statusWindow = &status;
    Connect(van);
    WaitUntil([&] { return ProgressShown("PC->CAT"); }, 2000);  // the greeting's texts
    display.Clear();
    status.Clear();

    std::string data = "DATA:";
    for (int b = 0; b < 256; ++b) data += static_cast<char>(b);
    ASSERT_TRUE(cat->Send(data));
    ASSERT_TRUE(van.WaitReceived(data.size(), 3000));
    EXPECT_EQ(van.Received(), data);
    EXPECT_EQ(cat->ReadExactly(data.size(), 3000), data);

    const std::string hex = catsim::Hex(data);
    const std::string len = std::to_string(data.size()) + " ";  // "%-4d"
    for (const char* tag : {"[CAT->PC ] [", "[PC ->VAN] [", "[VAN->PC ] [", "[PC ->CAT] ["}) {
        EXPECT_TRUE(WaitLog(std::string(tag) + len + "] [" + hex + "]")) << tag;
    }
    // In the order it happened: the VAN's answer never ahead of what it answers.
    const std::string log = Log();
    size_t previous = 0;
    for (const char* tag : {"[CAT->PC ] [", "[PC ->VAN] [", "[VAN->PC ] [", "[PC ->CAT] ["}) {
        const size_t at = log.find(std::string(tag) + len);
        EXPECT_TRUE(at != std::string::npos && at >= previous) << tag;
        previous = at;
    }
    // Each worker's texts in their order, on both targets alike (the two
    // workers' texts may interleave).
    EXPECT_TRUE(WaitUntil([&] { return ProgressShown("PC->CAT"); }, 2000));
    const auto texts = [](const RecordingDisplay& d, const char* first, const char* second) {
        std::vector<std::string> out;
        for (const auto& c : d.CallsTo(Line::Progress)) {
            if (c.text == first || c.text == second) out.push_back(c.text);
        }
        return out;
    };
    for (const RecordingDisplay* d : {&display, &status}) {
        EXPECT_EQ(texts(*d, "CAT->PC", "PC->VAN"),
                  (std::vector<std::string>{"CAT->PC", "PC->VAN"}));
        EXPECT_EQ(texts(*d, "VAN->PC", "PC->CAT"),
                  (std::vector<std::string>{"VAN->PC", "PC->CAT"}));
    }
    // Each buffer leaves at once: no wait for the VAN's delayed acknowledgement.
    std::lock_guard lock(g_relay.vanMutex);
    ASSERT_TRUE(g_relay.vanLink);
    EXPECT_TRUE(g_relay.vanLink->Socket().NoDelay());
}

TEST_F(RelaySession, LargestVanBufferReachesTheTerminalWhole) {
    VanSimulator::Options o;
    o.mode = VanSimulator::Mode::Scripted;
    o.replies = {LargeVanReply()};
    VanSimulator van(o);
    ASSERT_TRUE(van.Start());
    Connect(van);
    ASSERT_TRUE(cat->Send("GIVE"));
    EXPECT_EQ(cat->ReadExactly(2049, 3000), LargeVanReply());
}

// How the terminal's own runs end (or do not end) a session.
TEST_F(RelaySession, TerminalRunsEndTheSessionOnlyWithFourOfTheFirstFive) {
    struct Case {
        const char* name;
        std::string sent;
        bool ends;
        bool escBack;  // the terminal hears five ESC
    } cases[] = {
        {"five ESC", Burst(kESC), true, false},
        {"five CR", Burst(kCR), true, true},
        {"letter and four ESC", "A" + std::string(4, kESC), true, false},
        {"three ESC then data", std::string(3, kESC) + "xy", false, false},
        {"a single ESC", std::string(1, kESC), false, false},
    };
    VanSimulator van(Echo());
    ASSERT_TRUE(van.Start());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connect(van);
        const size_t before = van.Received().size();
        ASSERT_TRUE(cat->Send(c.sent));
        if (c.ends) {
            ASSERT_TRUE(WaitConnected(false));
            ASSERT_TRUE(van.WaitClosed(van.Accepted(), 3000));
            if (c.escBack) {
                EXPECT_EQ(cat->ReadExactly(5, 2000), Burst(kESC));
            } else {
                EXPECT_TRUE(cat->ExpectSilence(300));
            }
            EXPECT_EQ(van.Received().size(), before) << "a session-ending run is not forwarded";
        } else {
            ASSERT_TRUE(van.WaitReceived(before + c.sent.size(), 3000));
            EXPECT_EQ(van.Received().substr(before), c.sent);
            EXPECT_EQ(cat->ReadExactly(c.sent.size(), 3000), c.sent);  // echoed back
            cat->SendRun(kESC);                                        // end it for the next case
            ASSERT_TRUE(WaitConnected(false));
        }
    }
}

TEST_F(RelaySession, ARequestFrameWhileConnectedIsOrdinaryData) {
    VanSimulator van(Echo());
    ASSERT_TRUE(van.Start());
    Connect(van);
    ASSERT_TRUE(cat->SendRequest("127.0.0.1", "1"));
    const std::string frame =
        "\x01"
        "127.0.0.1"
        "\x1C"
        "1"
        "\x17";
    ASSERT_TRUE(van.WaitReceived(frame.size(), 3000));
    EXPECT_EQ(van.Received(), frame);
    EXPECT_EQ(van.Accepted(), 1);
}

TEST_F(RelaySession, BadRequestsAreRefusedWithEscAndCatIpError) {
    const std::string longAddress(32, '1');
    const std::string badFrames[] = {
        "\x01"
        "127.0.0.1"
        "\x1C"
        "50a0"
        "\x17",  // port with a letter
        "\x01"
        "\x1C"
        "5010"
        "\x17",  // empty address
        "\x01" + longAddress +
            "\x1C"
            "5010"
            "\x17",  // field longer than 31
        "\x01"
        "127.0.0.1"
        "\x1C" +
            std::string(32, '5') + "\x17",
    };
    for (const std::string& frame : badFrames) {
        SCOPED_TRACE(catsim::Hex(frame));
        display.Clear();
        ASSERT_TRUE(cat->Send(frame));
        EXPECT_EQ(cat->ReadExactly(5, 3000), Burst(kESC));
        ASSERT_TRUE(WaitTransferText("Cat IP 정보 오류"));
        EXPECT_EQ(display.CallsTo(Line::TransferState).back().colour, kErrorColour);
        EXPECT_TRUE(ProgressShown("Cat IP 정보 오류"));
        EXPECT_FALSE(g_relay.vanConnected.load());
    }
}

TEST_F(RelaySession, BytesAheadOfTheSohDoNotSpoilTheRequest) {
    VanSimulator van(Echo());
    ASSERT_TRUE(van.Start());
    ASSERT_TRUE(cat->Send("\x05\x05"));  // noise, then the frame in the same buffer
    ASSERT_TRUE(cat->SendRequest("127.0.0.1", std::to_string(van.Port())));
    ASSERT_TRUE(van.WaitAccepted(1, 4000));
    EXPECT_EQ(cat->ReadExactly(5, 3000), "HELLO");
}

TEST_F(RelaySession, UnreachableServersGetEscAndServerErrorWithCode27) {
    VanSimulator::Options silent;
    silent.mode = VanSimulator::Mode::Silent;
    VanSimulator quiet(silent);
    ASSERT_TRUE(quiet.Start());
    for (uint16_t port : {VanSimulator::RefusingPort(), quiet.Port()}) {
        SCOPED_TRACE(port);
        display.Clear();
        const auto start = Clock::now();
        ASSERT_TRUE(cat->SendRequest("127.0.0.1", std::to_string(port)));
        EXPECT_EQ(cat->ReadExactly(5, 4000), Burst(kESC));
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3200));
        EXPECT_TRUE(WaitTransferText("서버 접속 오류"));
        EXPECT_TRUE(WaitLog("[Socket Error (-27) (ConnectToVAN)]"));
        EXPECT_FALSE(g_relay.vanConnected.load());
    }
}

TEST_F(RelaySession, StrayByteIsOnlyLogged) {
    ASSERT_TRUE(cat->Send("\x05"));
    EXPECT_TRUE(WaitLog("[CAT->PC ] [1   ] [05]"));
    EXPECT_TRUE(cat->ExpectSilence(700));
}

TEST_F(RelaySession, OnlyTheLowSixteenBitsOfThePortAreUsed) {
    VanSimulator van(Echo());
    ASSERT_TRUE(van.Start());
    ASSERT_TRUE(cat->SendRequest("127.0.0.1", std::to_string(van.Port() + 65536)));
    ASSERT_TRUE(van.WaitAccepted(1, 3000));
    EXPECT_EQ(cat->ReadExactly(5, 3000), "HELLO");
}

TEST_F(RelaySession, VanCloseAfterTerminalDataEndsWithEsc) {
    VanSimulator::Options o;
    o.mode = VanSimulator::Mode::Scripted;  // never answers the data
    VanSimulator van(o);
    ASSERT_TRUE(van.Start());
    Connect(van);
    ASSERT_TRUE(cat->Send("PAY"));
    ASSERT_TRUE(van.WaitReceived(3, 3000));
    van.CloseClient();
    EXPECT_EQ(cat->ReadExactly(5, 3000), Burst(kESC));
    EXPECT_TRUE(WaitConnected(false));
    EXPECT_TRUE(WaitLog("[Socket Disconnect]"));
}

TEST_F(RelaySession, VanCloseBeforeTerminalDataEndsQuietly) {
    VanSimulator::Options o;
    o.mode = VanSimulator::Mode::CloseAfterGreeting;
    VanSimulator van(o);
    ASSERT_TRUE(van.Start());
    ASSERT_TRUE(cat->SendRequest("127.0.0.1", std::to_string(van.Port())));
    EXPECT_EQ(cat->ReadExactly(5, 3000), "HELLO");
    ASSERT_TRUE(WaitLog("[Socket Disconnect]"));
    EXPECT_FALSE(g_relay.vanConnected.load());
    EXPECT_TRUE(cat->ExpectSilence(400)) << "the terminal had sent nothing: no ESC burst";
}

// Without a link the VAN worker sleeps on the link's signal. With its bound
// far beyond every wait here, only a link coming up (each session's greeting
// reaching the terminal) and the stop (the fixture's, which joins the worker)
// can wake it.
TEST_F(RelaySession, TheVanWorkerWakesForEachNewLinkAndForTheStop) {
    g_relay.noLinkWaitMs = 600000;
    VanSimulator van(Echo());
    ASSERT_TRUE(van.Start());
    for (int session = 0; session < 3; ++session) {
        Connect(van);
        ASSERT_TRUE(cat->SendRun(kESC));
        ASSERT_TRUE(WaitConnected(false));
    }
}

TEST_F(RelaySession, KeepAliveEndsAnIdleLink) {
    g_relay.keepAliveLimitMs = 2000;
    VanSimulator::Options o;
    o.mode = VanSimulator::Mode::Scripted;
    VanSimulator van(o);
    ASSERT_TRUE(van.Start());

    // Nothing from the terminal during the session: no ESC burst.
    Connect(van);
    ASSERT_TRUE(WaitTransferText("Socket Time-Out (KEEP ALIVE)", 6000));
    EXPECT_TRUE(ProgressShown("Socket Time-Out (KEEP ALIVE)"));
    EXPECT_FALSE(g_relay.vanConnected.load());
    EXPECT_TRUE(cat->ExpectSilence(300));

    // A terminal that keeps talking to a mute VAN does not keep the link alive,
    // and it is told the session ended.
    display.Clear();
    Connect(van);
    bool ended = false;
    for (int i = 0; i < 40 && !ended; ++i) {
        cat->Send("ping");
        ended = WaitConnected(false, 150);
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(cat->ReadUntilQuiet(300, 2000).find(Burst(kESC)) != std::string::npos, true);
}

TEST_F(RelaySession, StopReturnsPromptlyWhileWorkersWait) {
    // The terminal worker sits in a serial read, the VAN worker in its wait.
    VanSimulator van(Echo());
    ASSERT_TRUE(van.Start());
    Connect(van);
    auto start = Clock::now();
    StopRelayLinks(workers);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_TRUE(WaitLog("[Serial CLOSE]"));
    EXPECT_TRUE(WaitLog("[Socket Disconnect]"));
    EXPECT_TRUE(cat->ExpectSilence(200)) << "the stop sends the terminal nothing";
    const std::string log = Log();
    EXPECT_LT(log.find("[Serial CLOSE]"), log.find("[Socket Disconnect]"));
    EXPECT_EQ(display.CallsTo(Line::Link).back().text, "CAT : 비연결 | VAN : 비연결");

    // Again while the terminal worker waits on a connect to a silent server.
    ASSERT_TRUE(OpenSerialPort(port, "9600"));
    workers.Start(&display);
    VanSimulator::Options silent;
    silent.mode = VanSimulator::Mode::Silent;
    VanSimulator quiet(silent);
    ASSERT_TRUE(quiet.Start());
    ASSERT_TRUE(cat->SendRequest("127.0.0.1", std::to_string(quiet.Port())));
    ASSERT_TRUE(quiet.WaitAccepted(1, 3000));
    start = Clock::now();
    StopRelayLinks(workers);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    // A stop is no server failure: no ESC burst, no error texts.
    EXPECT_TRUE(cat->ExpectSilence(200));
    EXPECT_EQ(Log().find("Socket Error"), std::string::npos);
    for (const auto& c : display.CallsTo(Line::TransferState)) EXPECT_NE(c.text, "서버 접속 오류");
}

TEST_F(RelaySession, RelayRunsWithoutAnyDisplayTarget) {
    g_relay.mainWindow = nullptr;
    VanSimulator van(Echo());
    ASSERT_TRUE(van.Start());
    Connect(van);
    ASSERT_TRUE(cat->Send("abc"));
    EXPECT_EQ(cat->ReadExactly(3, 3000), "abc");
}

TEST(DisconnectVan, WithoutALinkOnlyClearsTheFlags) {
    TempDir dir;
    ConfigureTrafficLog(dir / "CATLOG", "gate");
    g_logEnabled = true;
    g_relay.vanConnected = true;
    g_relay.catActive = true;
    DisconnectVAN();
    EXPECT_FALSE(g_relay.vanConnected.load());
    EXPECT_FALSE(g_relay.catActive.load());
    EXPECT_FALSE(std::filesystem::exists(dir / "CATLOG"));
    g_logEnabled = false;
    ConfigureTrafficLog("", "", {});
}

// The keep-alive counts time, on a clock the test moves, never passes: a
// terminal pass that returns at once (a port failing fast) cannot end a live
// link, and 72 s without VAN data does.
std::atomic<int64_t> g_nowMs{0};
int64_t TestNow() { return g_nowMs.load(); }

TEST(KeepAlive, EndsALinkAfterSeventyTwoSecondsOfTimeNotAfterManyPasses) {
    RecordingDisplay display;
    g_relay.mainWindow = &display;
    g_relay.keepAliveClock = &TestNow;
    g_relay.serialOpen = true;  // with no port object every read fails at once
    g_relay.vanConnected = true;
    ResetKeepAlive();
    for (int i = 0; i < 2000; ++i) RelayFromCAT();
    g_nowMs += 71999;
    RelayFromCAT();
    EXPECT_TRUE(g_relay.vanConnected.load());
    g_nowMs += 1;
    RelayFromCAT();
    EXPECT_FALSE(g_relay.vanConnected.load());
    EXPECT_EQ(display.CallsTo(RecordingDisplay::Line::TransferState).back().text,
              "Socket Time-Out (KEEP ALIVE)");
    g_relay.serialOpen = false;
    g_relay.keepAliveClock = &platform::MonotonicMs;
    g_relay.mainWindow = nullptr;
}

TEST(LinkText, FollowsBothFlags) {
    EXPECT_EQ(LinkText(false, false), "CAT : 비연결 | VAN : 비연결");
    EXPECT_EQ(LinkText(false, true), "CAT : 비연결 | VAN : 연결");
    EXPECT_EQ(LinkText(true, false), "CAT : 연결 | VAN : 비연결");
    EXPECT_EQ(LinkText(true, true), "CAT : 연결 | VAN : 연결");
}

}  // namespace
