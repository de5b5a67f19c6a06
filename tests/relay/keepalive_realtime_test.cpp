// The keep-alive at its real length: about 72 s after the last VAN data an idle
// link is closed. Slow, so it carries the label "slow" and stays out of the
// default run: ctest -L slow.
#include <chrono>

#include "tests/relay/relay_fixture.h"

namespace {

class KeepAliveRealTime : public RelayFixture {};

TEST_F(KeepAliveRealTime, IdleLinkClosesAboutSeventyTwoSecondsAfterTheLastVanData) {
    VanSimulator::Options o;
    o.mode = VanSimulator::Mode::Scripted;  // greets, then stays mute
    VanSimulator van(o);
    ASSERT_TRUE(van.Start());
    Connect(van);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitConnected(false, 90000));
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(seconds, 65.0);
    EXPECT_LT(seconds, 80.0);
    EXPECT_TRUE(WaitTransferText("Socket Time-Out (KEEP ALIVE)"));
    EXPECT_TRUE(cat->ExpectSilence(300)) << "the terminal had sent nothing: no ESC burst";
}

}  // namespace
