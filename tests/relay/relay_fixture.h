#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "config/settings.h"
#include "log/traffic_log.h"
#include "relay/relay_session.h"
#include "relay/relay_state.h"
#include "relay/serial_comm.h"
#include "tests/support/recording_display.h"
#include "tests/support/serial_pair.h"
#include "tests/support/temp_dir.h"
#include "tools/catsim/cat_simulator.h"
#include "tools/vansim/van_simulator.h"

// Waits (bounded) until pred holds; true when it did.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A running relay: a simulated terminal on the far end of a serial line, the port open,
// both workers started, logging into a temporary folder.
class RelayFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigureTrafficLog(dir / "CATLOG", "gate");
        g_logEnabled = true;
        g_relay.mainWindow = &display;
        std::string error;
        cat = OpenTerminalLine(port, &error);
        ASSERT_TRUE(cat) << error;
        ASSERT_TRUE(OpenSerialPort(port, "9600"));
        workers.Start(&display);
    }

    void TearDown() override {
        StopRelayLinks(workers);
        if (HasFailure()) std::fprintf(stderr, "--- traffic log ---\n%s", Log().c_str());
        g_relay.mainWindow = nullptr;
        g_relay.statusWindow = nullptr;
        g_relay.keepAliveLimitMs = 72000;
        g_relay.noLinkWaitMs = 1000;
        ResetKeepAlive();
        g_relay.catActive = false;
        g_logEnabled = false;
        ConfigureTrafficLog("", "", {});
    }

    std::string Log() const {
        std::string all;
        for (const auto& e : std::filesystem::directory_iterator(dir / "CATLOG")) {
            all += ReadFile(e.path().string());
        }
        return all;
    }
    bool WaitLog(const std::string& text, int timeoutMs = 3000) const {
        return WaitUntil([&] { return Log().find(text) != std::string::npos; }, timeoutMs);
    }
    bool WaitConnected(bool up, int timeoutMs = 3000) const {
        return WaitUntil([&] { return g_relay.vanConnected.load() == up; }, timeoutMs);
    }
    bool WaitTransferText(const std::string& text, int timeoutMs = 3000) const {
        return WaitUntil(
            [&] {
                for (const auto& c : display.CallsTo(RecordingDisplay::Line::TransferState)) {
                    if (c.text == text) return true;
                }
                return false;
            },
            timeoutMs);
    }
    bool ProgressShown(const std::string& text) const {
        for (const auto& c : display.CallsTo(RecordingDisplay::Line::Progress)) {
            if (c.text == text) return true;
        }
        return false;
    }

    // Starts a session with the VAN: request, link up, greeting at the terminal.
    void Connect(VanSimulator& van, const std::string& greeting = "HELLO") {
        ASSERT_TRUE(cat->SendRequest("127.0.0.1", std::to_string(van.Port())));
        ASSERT_TRUE(van.WaitAccepted(van.Accepted() + 1, 3000));
        ASSERT_EQ(cat->ReadExactly(greeting.size(), 3000), greeting);
        ASSERT_TRUE(WaitConnected(true));
    }

    TempDir dir;
    RecordingDisplay display;
    RecordingDisplay status;  // the second target, where a test sets it
    std::unique_ptr<catsim::CatSimulator> cat;
    std::string port;  // the one the gateway opens
    RelayWorkers workers;
};

inline std::string Burst(uint8_t byte) { return std::string(5, static_cast<char>(byte)); }
